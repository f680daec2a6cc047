// The menu bar's commands as a user meets them: the options, the update check against a web
// server of this test's own, export and import through the registry tool, and About. Runs in a
// network of its own (isolated.sh): the *Offline* tests without internet access, the rest with.
#include "e2e_fixture.h"
#include "app/mainwindow.h"
#include "resources/resource.h"
#include "settings/exportimport.h"
#include "settings/logonstart.h"
#include "update/updater.h"
#include <winsock2.h>
#include <dlgs.h>
#include <tlhelp32.h>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace e2e {
namespace {

// Where tessel_loopback (CMakeLists.txt) looks for its update: the version file and the
// download on one site, the page that shows the internet answers on another.
constexpr u_short SitePort = 8047, FrontPort = 8048;
const std::string VersionPath = "/version", FrontPath = "/";
const std::wstring DownloadUrl = L"http://127.0.0.1:8047/download";

bool RecorderRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry))
        running =
            !lstrcmpiW(entry.szExeFile, L"cmd.exe") || !lstrcmpiW(entry.szExeFile, L"conhost.exe");
    CloseHandle(snapshot);
    return running;
}

std::string Bytes(std::initializer_list<BYTE> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Bytes(DWORD number) {
    return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}

// A web server on the loopback: answers each path as told (at first the version as it is and
// an empty front page), holds answers back on request, and lists the paths asked for.
class WebServer {
  public:
    struct Reply {
        int Status = 200;
        std::string Body;
    };
    explicit WebServer(u_short port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        BOOL reuse = TRUE;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&reuse),
                   sizeof reuse);
        sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at_ = at;
        EXPECT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at));
        EXPECT_EQ(0, listen(listener_, 8));
        replies_ = {{VersionPath, {200, Bytes(BuiltInVersion)}}, {FrontPath, {}}};
        thread_ = std::thread([this] { Serve(); });
    }
    // Wine does not wake a thread waiting in accept when its socket is closed: a last
    // connection of its own ends the serving thread.
    ~WebServer() {
        stopping_ = true;
        Hold(false);
        SOCKET last = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        connect(last, reinterpret_cast<sockaddr*>(&at_), sizeof at_);
        thread_.join();
        closesocket(last);
        closesocket(listener_);
        WSACleanup();
    }
    void Answer(const std::string& path, Reply reply) {
        std::lock_guard lock(mutex_);
        replies_[path] = reply;
    }
    void Hold(bool held) {
        std::lock_guard lock(mutex_);
        held_ = held;
        released_.notify_all();
    }
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    bool WaitRequests(size_t count) {
        return probe::WaitFor(IdleTimeoutMs, [&] { return Requests().size() >= count; });
    }

  private:
    void Serve() {
        for (SOCKET client; (client = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;) {
            if (!stopping_)
                Respond(client);
            closesocket(client);
            if (stopping_)
                return;
        }
    }
    void Respond(SOCKET client) {
        std::string request;
        char buffer[1024];
        for (int got; request.find("\r\n\r\n") == std::string::npos; request.append(buffer, got))
            if ((got = recv(client, buffer, sizeof buffer, 0)) <= 0)
                return;
        std::string path = request.substr(request.find(' ') + 1);
        path.resize(path.find(' '));
        std::unique_lock lock(mutex_);
        requests_.push_back(path);
        released_.wait(lock, [&] { return !held_; });
        Reply reply = replies_.count(path) ? replies_[path] : Reply{404, "<!DOCTYPE html>"};
        lock.unlock();
        std::string answer =
            "HTTP/1.1 " + std::to_string(reply.Status) +
            " X\r\nConnection: close\r\nContent-Length: " + std::to_string(reply.Body.size()) +
            "\r\n\r\n" + reply.Body;
        send(client, answer.data(), int(answer.size()), 0);
    }

    SOCKET listener_;
    sockaddr_in at_;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    std::map<std::string, WebServer::Reply> replies_;
    std::vector<std::string> requests_;
};

class MenuBarTest : public TesselTest {
  protected:
    void SetUp() override {
        TesselTest::SetUp();
        // Every web page and new mail Tessel opens becomes a line of opened.txt.
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring command =
            system + std::wstring(L"\\cmd.exe /c \"echo %1>>") + PathOf(L"opened.txt") + L"\"";
        for (const wchar_t* scheme : {L"http", L"https", L"mailto"})
            ASSERT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_CLASSES_ROOT,
                                      (scheme + std::wstring(L"\\shell\\open\\command")).c_str(),
                                      nullptr, REG_SZ, command.c_str(),
                                      DWORD((command.size() + 1) * sizeof(wchar_t))));
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName);
    }
    void TearDown() override {
        TesselTest::TearDown();
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName);
        std::filesystem::remove(TaskFile());
        const DWORD uacOff = 0; // as Wine has it
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, SystemPolicyKeyPath, EnableLuaName, REG_DWORD, &uacOff,
                        sizeof uacOff);
    }

    std::vector<std::string> Opened() const {
        std::ifstream file(std::filesystem::path(PathOf(L"opened.txt")));
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line.substr(0, line.find_last_not_of("\r ") + 1));
        return lines;
    }
    // Waits for the lines and for the recorder's end: its console window may lie over Tessel's.
    bool WaitOpened(size_t count) const {
        return probe::WaitFor(ExitTimeoutMs,
                              [&] { return Opened().size() >= count && !RecorderRunning(); });
    }

    // Wine's Task Scheduler keeps each task of its root folder as a file of the task's name,
    // and reads it from there.
    static std::filesystem::path TaskFile() {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        return std::filesystem::path(system) / L"Tasks" / LogonTaskName;
    }

    void SetCheckForUpdate(DWORD on) { SetValue(CheckForUpdateName, REG_DWORD, ToData(on)); }
    static std::vector<BYTE> ToData(DWORD number) {
        return {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)};
    }

    // The next box other than skip, once it is whole (it has its default button).
    probe::Box NextBox(HWND skip = nullptr) {
        probe::Box next;
        probe::WaitFor(ExitTimeoutMs, [&] {
            for (const probe::Box& box : tessel_.Boxes())
                for (const probe::BoxButton& button : box.Buttons)
                    if (box.Window != skip && button.Default)
                        return next = box, true;
            return false;
        });
        return next;
    }
    // Presses a button of a box and waits until the box is gone.
    void Close(const probe::Box& box, int button) {
        ASSERT_TRUE(probe::PressButton(box, button)) << Narrow(box.Caption);
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return !IsWindowVisible(box.Window); }));
    }
    // caption | text, or "" when the window is not a box.
    static std::wstring Said(const probe::Box& box) {
        return box.Window ? box.Caption + L" | " + box.Text : L"(no box)";
    }

    // Sends command 32788 as the menu does and answers "Update already in progress ..." if it
    // comes; true when it came.
    bool CheckWasRunning() {
        bool returned = false, running = false;
        std::thread send([&] {
            SendMessageTimeoutW(tessel_.Window(), WM_COMMAND, IDM_CHECK_UPDATES, 0, SMTO_NORMAL,
                                IdleTimeoutMs, nullptr);
            returned = true;
        });
        probe::WaitFor(IdleTimeoutMs, [&] {
            for (const probe::Box& box : tessel_.Boxes())
                if (box.Text == UpdateRunningMessage && box.Caption == InformationCaption)
                    running = probe::PressButton(box, IDOK);
            return running || returned;
        });
        send.join();
        return running;
    }
    // Waits for the running check to end; the option is off from now on, so that asking
    // starts no other.
    bool WaitCheckEnded() {
        SetCheckForUpdate(0);
        return probe::WaitFor(IdleTimeoutMs, [&] { return !CheckWasRunning(); });
    }

    // The File menu's "Check for &Updates ..." chosen with the keyboard in the shown window.
    void ChooseCheckForUpdates() {
        // Each key waits for what the one before it opened: keys typed too soon go elsewhere.
        SetForegroundWindow(tessel_.Window());
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs,
                                   [&] { return GetForegroundWindow() == tessel_.Window(); }));
        ASSERT_TRUE(tessel_.PressKeys({VK_MENU, 'F'}));
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] {
            HWND menu = FindWindowW(L"#32768", nullptr);
            DWORD process = 0;
            GetWindowThreadProcessId(menu, &process);
            return menu && IsWindowVisible(menu) && process == tessel_.Pid();
        }));
        ASSERT_TRUE(tessel_.PressKeys({'U'}));
    }

    void ShowWindow() {
        ASSERT_TRUE(tessel_.PostTrayDoubleClick());
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel_.WindowVisible(); }));
    }

    // Chooses the menu command and, in its file dialog, the file path.
    probe::Box ChooseFile(WORD command, const std::wstring& path) {
        tessel_.Post(WM_COMMAND, command, 0);
        probe::Box dialog = NextBox();
        SetDlgItemTextW(dialog.Window, cmb13, path.c_str());
        Close(dialog, IDOK);
        return NextBox(dialog.Window);
    }

    probe::Target tessel_;
};

// The Run value now, "(none)" when there is none.
std::wstring RunValue() {
    wchar_t data[MAX_PATH + 8] = {};
    DWORD size = sizeof data, type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName, RRF_RT_ANY, &type, data,
                     &size) != ERROR_SUCCESS)
        return L"(none)";
    return (type == REG_SZ ? L"" : L"type " + std::to_wstring(type) + L": ") + data;
}

TEST_F(MenuBarTest, OptionsShowAndStoreTheLogonStartAndTheUpdateCheck) {
    const std::wstring quoted = L"\"" + probe::TesselExe() + L"\"", old = L"C:\\old\\tessel.exe",
                       none = L"(none)";
    constexpr DWORD Missing = 2;
    struct Case {
        const char* Name;
        DWORD RunType; // REG_NONE: no Run value
        DWORD Check;   // CheckForUpdate before the dialog opens
        bool Shown[2]; // boxes 1001 and 1002 as the dialog opens
        bool Click[2];
        int Button;
        std::wstring RunAfter;
        DWORD CheckAfter;
        // The logon task beside the Run value, with User Account Control off unless told.
        DWORD Lua = 0;
        bool Task = false, TaskAfter = false;
    };
    const Case cases[] = {
        {"nothing stored, cancelled", REG_NONE, Missing, {0, 0}, {0, 0}, IDCANCEL, L"(none)", 0},
        {"Run value of another type", REG_EXPAND_SZ, 1, {0, 1}, {0, 0}, IDOK, L"(none)", 1},
        {"another path rewritten", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, quoted, 0},
        {"both unchecked", REG_SZ, 1, {1, 1}, {1, 1}, IDOK, L"(none)", 0},
        {"both checked", REG_NONE, 0, {0, 0}, {1, 1}, IDOK, quoted, 1},
        {"cancel writes nothing", REG_SZ, 1, {1, 1}, {1, 1}, IDCANCEL, old, 1},
        {"UAC on: the task", REG_NONE, 0, {0, 0}, {1, 0}, IDOK, none, 0, 1, false, true},
        {"UAC on: Run value to task", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, none, 0, 1, false, true},
        {"UAC on: cancel", REG_NONE, 0, {1, 0}, {1, 0}, IDCANCEL, none, 0, 1, true, true},
        {"UAC on: both removed", REG_SZ, 0, {1, 0}, {1, 0}, IDOK, none, 0, 1, true, false},
        {"UAC unset", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, none, 0, Missing, false, true},
        {"UAC off: task to Run value", REG_NONE, 0, {1, 0}, {0, 0}, IDOK, quoted, 0, 0, true},
        {"UAC off: both to Run value", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, quoted, 0, 0, true},
        {"UAC off: task removed", REG_NONE, 0, {1, 0}, {1, 0}, IDOK, none, 0, 0, true},
    };
    ASSERT_TRUE(Start(&tessel_));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName);
        if (c.RunType != REG_NONE)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, RunKeyPath, RunValueName, c.RunType, old.c_str(),
                            DWORD((old.size() + 1) * sizeof(wchar_t)));
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, UserSettingsPath().c_str(), CheckForUpdateName);
        if (c.Check != Missing)
            SetCheckForUpdate(c.Check);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SystemPolicyKeyPath, EnableLuaName);
        if (c.Lua != Missing)
            RegSetKeyValueW(HKEY_LOCAL_MACHINE, SystemPolicyKeyPath, EnableLuaName, REG_DWORD,
                            &c.Lua, sizeof c.Lua);
        std::filesystem::remove(TaskFile());
        if (c.Task)
            std::ofstream(TaskFile())
                << R"(<Task xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">)"
                << "<Actions/></Task>";
        tessel_.Post(WM_COMMAND, IDM_OPTIONS, 0);
        probe::Box dialog = NextBox();
        for (int i : {0, 1}) {
            HWND box = GetDlgItem(dialog.Window, IDC_RUN_AT_STARTUP + i);
            EXPECT_EQ(c.Shown[i], SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) << i;
            if (c.Click[i])
                SendMessageW(box, BM_CLICK, 0, 0);
        }
        Close(dialog, c.Button);
        EXPECT_EQ(Narrow(c.RunAfter), Narrow(RunValue()));
        EXPECT_EQ(c.TaskAfter, std::filesystem::exists(TaskFile()));
        EXPECT_EQ(
            std::vector<RegistryValue>({{CheckForUpdateName, REG_DWORD, ToData(c.CheckAfter)}}),
            ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    }
}

TEST_F(MenuBarTest, UpdateCheckOffersOnlyANewerVersion) {
    const std::wstring newVersion = VersionCaption + std::wstring(L" | ") + NewVersionMessage,
                       noConnection = ErrorCaption + std::wstring(L" | ") + ConnectionErrorMessage;
    const std::vector<std::string> both = {VersionPath, FrontPath};
    const WebServer::Reply down = {0, ""};
    struct Case {
        const char* Name;
        DWORD Option;
        WebServer::Reply Version; // status 0: the site is down
        bool FrontUp;
        std::wstring Box; // caption | text, or (no box)
        std::vector<std::string> Asked;
    };
    const Case cases[] = {
        {"same version", 1, {200, Bytes(BuiltInVersion)}, true, L"(no box)", both},
        {"one more", 1, {200, Bytes(BuiltInVersion + 1)}, true, newVersion, both},
        {"highest bit set", 1, {200, Bytes({0, 0, 0, 0x80})}, true, newVersion, both},
        {"three bytes", 1, {200, Bytes({1, 0, 5})}, true, L"(no box)", both},
        {"no version file", 1, {404, Bytes(BuiltInVersion + 1)}, true, L"(no box)", both},
        {"site down", 1, down, true, L"(no box)", {}},
        {"front down", 1, {200, Bytes(BuiltInVersion + 1)}, false, noConnection, {VersionPath}},
        {"option off", 0, {200, Bytes(BuiltInVersion + 1)}, true, L"(no box)", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::optional<WebServer> site, front;
        if (c.Version.Status) {
            site.emplace(SitePort);
            site->Answer(VersionPath, c.Version);
        }
        if (c.FrontUp)
            front.emplace(FrontPort);
        auto asked = [&] {
            std::vector<std::string> paths;
            for (std::optional<WebServer>* server : {&site, &front})
                if (*server)
                    for (const std::string& path : (*server)->Requests())
                        paths.push_back(path);
            return paths;
        };
        SetCheckForUpdate(c.Option);
        tessel_ = probe::Target();
        ASSERT_TRUE(Start(&tessel_));
        if (c.Box != L"(no box)") {
            probe::Box box = NextBox();
            EXPECT_EQ(Narrow(c.Box), Narrow(Said(box)));
            // Owned by the main window, save the connection error's.
            EXPECT_EQ(c.Box == newVersion ? tessel_.Window() : nullptr,
                      GetWindow(box.Window, GW_OWNER));
            Close(box, IDOK);
        }
        ASSERT_TRUE(
            probe::WaitFor(IdleTimeoutMs, [&] { return asked().size() >= c.Asked.size(); }));
        ASSERT_TRUE(WaitCheckEnded());
        EXPECT_EQ(c.Asked, asked());
        if (c.Box == newVersion) {
            ASSERT_TRUE(WaitOpened(1));
        }
        EXPECT_EQ(c.Box == newVersion ? std::vector<std::string>{Narrow(DownloadUrl)}
                                      : std::vector<std::string>{},
                  Opened());
        // The menu item is enabled again: choosing it starts a new check.
        site.reset();
        front.reset();
        site.emplace(SitePort);
        front.emplace(FrontPort);
        SetCheckForUpdate(1);
        ShowWindow();
        ChooseCheckForUpdates();
        EXPECT_TRUE(site->WaitRequests(1));
        ASSERT_TRUE(WaitCheckEnded());
        ASSERT_TRUE(Quit(&tessel_));
        DeleteFileW(PathOf(L"opened.txt").c_str());
    }
}

TEST_F(MenuBarTest, WhileACheckRunsItsItemIsGreyedAndTheCommandSaysSo) {
    WebServer site(SitePort), front(FrontPort);
    site.Hold(true);
    SetCheckForUpdate(1);
    ASSERT_TRUE(Start(&tessel_));
    ASSERT_TRUE(site.WaitRequests(1));
    ShowWindow();
    // A greyed item sends nothing and leaves the menu open; Alt closes it, and the About
    // shortcut typed with it is what shows.
    ChooseCheckForUpdates();
    ASSERT_TRUE(tessel_.PressKeys({VK_MENU, VK_SHIFT, VK_OEM_2}));
    probe::Box about = NextBox();
    EXPECT_EQ("About Tessel", Narrow(about.Caption));
    Close(about, IDOK);
    tessel_.Post(WM_COMMAND, IDM_CHECK_UPDATES, 0);
    probe::Box running = NextBox();
    EXPECT_EQ(Narrow(InformationCaption + std::wstring(L" | ") + UpdateRunningMessage),
              Narrow(Said(running)));
    EXPECT_EQ(tessel_.Window(), GetWindow(running.Window, GW_OWNER));
    Close(running, IDOK);
    site.Hold(false);
    ASSERT_TRUE(WaitCheckEnded());
    EXPECT_EQ(std::vector<std::string>{VersionPath}, site.Requests());
    EXPECT_EQ(std::vector<std::string>{FrontPath}, front.Requests());
    EXPECT_TRUE(Quit(&tessel_));
}

TEST_F(MenuBarTest, OfflineNoCheckIsMade) {
    WebServer site(SitePort), front(FrontPort);
    site.Answer(VersionPath, {200, Bytes(BuiltInVersion + 1)});
    SetCheckForUpdate(1);
    ASSERT_TRUE(Start(&tessel_));
    ASSERT_TRUE(WaitCheckEnded());
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_TRUE(front.Requests().empty());
    EXPECT_TRUE(tessel_.Boxes().empty());
    EXPECT_TRUE(Quit(&tessel_));
}

TEST_F(MenuBarTest, ExportAndImportMoveTheWholeSubtreeThroughTheRegistryTool) {
    const std::wstring file = PathOf(L"my settings.reg"), junk = PathOf(L"not settings.reg");
    std::ofstream(std::filesystem::path(file)) << "an older file";
    std::ofstream(std::filesystem::path(junk)) << "not a registry file";
    const std::wstring other = std::wstring(BaseKeyPath) + L"\\another user";
    SetFlag(PathOf(L"a.vhd"), StartupFlagOff);
    SetFlag(PathOf(L"b.vhd"), StartupFlagOff);
    SetCheckForUpdate(0);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, other.c_str(), L"C:\\c.vhd", REG_SZ, L"+", 4));
    const auto mine = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()),
               theirs = ReadValues(HKEY_LOCAL_MACHINE, other);
    ASSERT_TRUE(Start(&tessel_));

    // An existing file is overwritten without a question.
    probe::Box box = ChooseFile(IDM_EXPORT_SETTINGS, file);
    EXPECT_EQ(Narrow(DoneCaption + std::wstring(L" | ") + ExportDoneMessage), Narrow(Said(box)));
    Close(box, IDOK);

    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
    box = ChooseFile(IDM_IMPORT_SETTINGS, file);
    EXPECT_EQ(Narrow(ConfirmationCaption + std::wstring(L" | ") + ImportQuestion),
              Narrow(Said(box)));
    Close(box, IDNO);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, BaseKeyPath));
    box = ChooseFile(IDM_IMPORT_SETTINGS, file);
    Close(box, IDYES);
    box = NextBox(box.Window);
    EXPECT_EQ(Narrow(DoneCaption + std::wstring(L" | ") + ImportDoneMessage), Narrow(Said(box)));
    Close(box, IDOK);
    EXPECT_EQ(mine, ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    EXPECT_EQ(theirs, ReadValues(HKEY_LOCAL_MACHINE, other));

    box = ChooseFile(IDM_IMPORT_SETTINGS, junk);
    Close(box, IDYES);
    box = NextBox(box.Window);
    EXPECT_EQ(Narrow(ErrorCaption + std::wstring(L" | ") + ImportErrorMessage), Narrow(Said(box)));
    Close(box, IDOK);
    EXPECT_TRUE(Opened().empty());
    EXPECT_TRUE(Quit(&tessel_));
}

// Input to the dialog in front, in one stream: a key reaches it before a later click does.
void Send(std::vector<INPUT> inputs) {
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

void Type(WORD key) {
    INPUT down = {}, up = {};
    down.type = up.type = INPUT_KEYBOARD;
    down.ki.wVk = up.ki.wVk = key;
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    Send({down, up});
}

void ClickLink(HWND dialog, int id) {
    SetForegroundWindow(dialog);
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return GetForegroundWindow() == dialog; }));
    POINT at = {4, 4};
    ClientToScreen(GetDlgItem(dialog, id), &at);
    INPUT move = {}, down, up;
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    move.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    move.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    down = up = move;
    down.mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    up.mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    Send({move, down, up});
}

TEST_F(MenuBarTest, AboutLinksOpenOnAClickOnly) {
    const std::wstring version = L"Tessel version " + std::to_wstring(BuiltInVersion >> 24) + L"." +
                                 std::to_wstring((BuiltInVersion >> 16) & 0xFF);
    ASSERT_TRUE(Start(&tessel_));
    ShowWindow();
    tessel_.Post(WM_COMMAND, IDM_ABOUT, 0);
    probe::Box about = NextBox();
    bool shown = false;
    for (HWND child = GetWindow(about.Window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[64] = {};
        GetWindowTextW(child, text, ARRAYSIZE(text));
        shown = shown || version == text;
    }
    EXPECT_TRUE(shown) << Narrow(version);
    ClickLink(about.Window, IDC_DONATION_LINK);
    ASSERT_TRUE(WaitOpened(1));
    // Enter on the focused link opens nothing.
    SetForegroundWindow(about.Window);
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(GetWindowThreadProcessId(about.Window, nullptr), &info) &&
               info.hwndFocus == GetDlgItem(about.Window, IDC_DONATION_LINK);
    }));
    Type(VK_RETURN);
    ClickLink(about.Window, IDC_SUPPORT_LINK);
    ASSERT_TRUE(WaitOpened(2));
    EXPECT_EQ((std::vector<std::string>{Narrow(TESSEL_DONATION_URL),
                                        "mailto:" + Narrow(TESSEL_SUPPORT_EMAIL)}),
              Opened());
    EXPECT_TRUE(IsWindowVisible(about.Window));
    Close(about, IDOK);
    EXPECT_TRUE(Quit(&tessel_));
}

} // namespace
} // namespace e2e
