// The menu bar's commands: options, the update check against the test's own web server, export and
// import through reg.exe, About. In a network of its own (isolated.sh).
#include "e2e_fixture.h"
#include "app/mainwindow.h"
#include "resources/resource.h"
#include "settings/exportimport.h"
#include "settings/logonstart.h"
#include "update/updater.h"
#include <winsock2.h>
#include <dlgs.h>
#include <tlhelp32.h>
#include <filesystem>
#include <fstream>
#include <future>

namespace e2e {
namespace {

// Where tessel_loopback (CMakeLists.txt) looks for its update: the version file and the
// download on one site, the page that shows the internet answers on another.
constexpr u_short SitePort = 8047, FrontPort = 8048;
const std::wstring DownloadUrl = L"http://127.0.0.1:8047/download";
// Every web page and new mail Tessel opens becomes a line of this file (isolated.sh).
constexpr wchar_t OpenedFile[] = L"C:\\opened.txt";

bool RecorderRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry))
        running = !lstrcmpiW(entry.szExeFile, L"url_recorder.exe");
    CloseHandle(snapshot);
    return running;
}

std::string Bytes(DWORD number) {
    return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}

// A web server on the loopback, run by the test: a request waits until the test answers it.
class WebServer {
  public:
    // Port 0: a port of its own choosing, where no one asks.
    explicit WebServer(u_short port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        BOOL reuse = TRUE;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&reuse),
                   sizeof reuse);
        sockaddr_in at = {AF_INET, htons(port), {}, {}};
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at));
        EXPECT_EQ(0, listen(listener_, 8));
    }
    ~WebServer() {
        closesocket(listener_);
        WSACleanup();
    }
    // Whether a request is waiting, or comes within the time.
    bool Asked(DWORD timeoutMs = 0) {
        fd_set ready = {1, {listener_}};
        timeval wait = {long(timeoutMs / 1000), long(timeoutMs % 1000 * 1000)};
        return select(0, &ready, nullptr, nullptr, &wait) == 1;
    }
    bool Answer(int status = 200, const std::string& body = Bytes(BuiltInVersion)) {
        if (!Asked(IdleTimeoutMs))
            return false;
        SOCKET client = accept(listener_, nullptr, nullptr);
        std::string request;
        char buffer[1024];
        for (int got; request.find("\r\n\r\n") == std::string::npos &&
                      (got = recv(client, buffer, sizeof buffer, 0)) > 0;)
            request.append(buffer, got);
        std::string answer =
            "HTTP/1.1 " + std::to_string(status) +
            " X\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body;
        send(client, answer.data(), int(answer.size()), 0);
        closesocket(client);
        return true;
    }

  private:
    SOCKET listener_;
};

class MenuBarTest : public TesselTest {
  protected:
    void SetUp() override {
        TesselTest::SetUp();
        DeleteFileW(OpenedFile);
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
        std::ifstream file{std::filesystem::path(OpenedFile)};
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line.substr(0, line.find_last_not_of("\r ") + 1));
        return lines;
    }
    // Waits for the lines and for the recorder's end.
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

    // With the option off, asking for a check starts none: the check has ended once asking
    // returns without "Update already in progress ..." (which holds the call until answered).
    bool WaitCheckEnded() {
        SetCheckForUpdate(0);
        return probe::WaitFor(IdleTimeoutMs, [&] {
            auto asking = std::async(std::launch::async, [&] {
                SendMessageW(tessel_.Window(), WM_COMMAND, IDM_CHECK_UPDATES, 0);
            });
            bool running = false;
            probe::WaitFor(IdleTimeoutMs, [&] {
                for (const probe::Box& box : tessel_.Boxes())
                    running = running ||
                              (box.Text == UpdateRunningMessage && probe::PressButton(box, IDOK));
                return running ||
                       asking.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
            });
            return !running;
        });
    }

    // Opens the File menu with a click on the menu bar (keys typed into a window just shown
    // may go elsewhere) and reads the state of "Check for &Updates ...".
    UINT CheckItemState() {
        std::vector<probe::AgentMenuItem> items;
        EXPECT_TRUE(tessel_.Click(tessel_.Window(), FileMenuPoint()) &&
                    tessel_.WaitMenu(ExitTimeoutMs, &items));
        for (const probe::AgentMenuItem& item : items)
            if (item.Id == IDM_CHECK_UPDATES)
                return item.State;
        return ~0u;
    }
    static POINT FileMenuPoint() { return {8, -GetSystemMetrics(SM_CYMENU) / 2}; }

    // Chooses the menu command and answers the next box; the file path typed into the file dialog.
    std::wstring ChooseFile(WORD command, const std::wstring& path, int button) {
        tessel_.Post(WM_COMMAND, command, 0);
        SetDlgItemTextW(NextBox(tessel_).Window, cmb13, path.c_str());
        Answer(tessel_, IDOK);
        return Answer(tessel_, button);
    }

    probe::Target tessel_;
};

// Deletes a value of HKLM, then stores it again unless type is REG_NONE.
void Store(const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name);
    if (type != REG_NONE)
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, size);
}

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
        // A folder where the task's file goes: the Task Scheduler cannot store the task.
        bool Refused = false;
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
        {"UAC on: task refused", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, old, 0, 1, false, true, true},
        {"UAC unset", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, none, 0, Missing, false, true},
        {"UAC off: task to Run value", REG_NONE, 0, {1, 0}, {0, 0}, IDOK, quoted, 0, 0, true},
        {"UAC off: both to Run value", REG_SZ, 0, {1, 0}, {0, 0}, IDOK, quoted, 0, 0, true},
        {"UAC off: task removed", REG_NONE, 0, {1, 0}, {1, 0}, IDOK, none, 0, 0, true},
    };
    ASSERT_TRUE(Start(&tessel_));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Store(RunKeyPath, RunValueName, c.RunType, old.c_str(), DWORD(old.size() * 2 + 2));
        Store(UserSettingsPath(), CheckForUpdateName, c.Check == Missing ? REG_NONE : REG_DWORD,
              &c.Check, sizeof c.Check);
        Store(SystemPolicyKeyPath, EnableLuaName, c.Lua == Missing ? REG_NONE : REG_DWORD, &c.Lua,
              sizeof c.Lua);
        std::filesystem::remove(TaskFile());
        if (c.Task)
            std::ofstream(TaskFile())
                << R"(<Task xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">)"
                << "<Actions/></Task>";
        if (c.Refused)
            std::filesystem::create_directory(TaskFile());
        tessel_.Post(WM_COMMAND, IDM_OPTIONS, 0);
        probe::Box dialog = NextBox(tessel_);
        for (int i : {0, 1}) {
            HWND box = GetDlgItem(dialog.Window, IDC_RUN_AT_STARTUP + i);
            EXPECT_EQ(c.Shown[i], SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) << i;
            if (c.Click[i])
                SendMessageW(box, BM_CLICK, 0, 0);
        }
        Answer(tessel_, c.Button);
        if (c.Refused) {
            // What the system says to writing a file where a folder stands.
            EXPECT_EQ(Narrow(ErrorBoxText(ERROR_ACCESS_DENIED)), Narrow(Answer(tessel_, IDOK)));
        }
        EXPECT_EQ(Narrow(c.RunAfter), Narrow(RunValue()));
        EXPECT_EQ(c.TaskAfter, std::filesystem::exists(TaskFile()));
        EXPECT_EQ(
            std::vector<RegistryValue>({{CheckForUpdateName, REG_DWORD, ToData(c.CheckAfter)}}),
            ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    }
}

TEST_F(MenuBarTest, UpdateCheckOffersOnlyANewerVersion) {
    const std::string newer = Bytes(BuiltInVersion + 1);
    struct Case {
        const char* Name;
        DWORD Option;
        int Status; // 0: the site is down
        std::string Version;
        int Asked;              // requests: the site's, then the front page's
        const wchar_t* Caption; // of the box shown, if any
        const wchar_t* Text;
    };
    const Case cases[] = {
        {"same version", 1, 200, Bytes(BuiltInVersion), 2, nullptr, nullptr},
        {"one more", 1, 200, newer, 2, VersionCaption, NewVersionMessage},
        {"highest bit set", 1, 200, Bytes(0x80000000), 2, VersionCaption, NewVersionMessage},
        {"three bytes", 1, 200, newer.substr(0, 3), 2, nullptr, nullptr},
        {"no version file", 1, 404, newer, 2, nullptr, nullptr},
        {"site down", 1, 0, newer, 0, nullptr, nullptr},
        {"front down", 1, 200, newer, 1, ErrorCaption, ConnectionErrorMessage},
        {"option off", 0, 200, newer, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WebServer site(c.Status ? SitePort : 0), front(c.Asked == 1 ? 0 : FrontPort);
        SetCheckForUpdate(c.Option);
        tessel_ = probe::Target();
        ASSERT_TRUE(Start(&tessel_));
        ASSERT_TRUE(c.Asked < 1 || site.Answer(c.Status, c.Version));
        ASSERT_TRUE(c.Asked < 2 || front.Answer());
        if (c.Caption) {
            // Owned by the main window, save the connection error's.
            EXPECT_EQ(c.Asked == 2 ? tessel_.Window() : nullptr,
                      GetWindow(NextBox(tessel_).Window, GW_OWNER));
            EXPECT_EQ(Narrow(BoxText(c.Caption, c.Text, {IDOK})), Narrow(Answer(tessel_, IDOK)));
        }
        ASSERT_TRUE(WaitCheckEnded());
        EXPECT_FALSE(site.Asked() || front.Asked());
        const bool offered = c.Caption == VersionCaption;
        EXPECT_TRUE(!offered || WaitOpened(1));
        EXPECT_EQ(std::vector<std::string>(offered, Narrow(DownloadUrl)), Opened());
        ASSERT_TRUE(Quit(&tessel_));
        DeleteFileW(OpenedFile);
    }
}

TEST_F(MenuBarTest, WhileACheckRunsItsItemIsGreyedAndTheCommandSaysSo) {
    WebServer site(SitePort), front(FrontPort);
    SetCheckForUpdate(1);
    ASSERT_TRUE(Start(&tessel_));
    ASSERT_TRUE(site.Asked(IdleTimeoutMs));
    tessel_.Post(WM_COMMAND, IDM_CHECK_UPDATES, 0);
    EXPECT_EQ(tessel_.Window(), GetWindow(NextBox(tessel_).Window, GW_OWNER));
    EXPECT_EQ(BoxText(InformationCaption, UpdateRunningMessage, {IDOK}), Answer(tessel_, IDOK));
    ASSERT_TRUE(tessel_.PostTrayDoubleClick());
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel_.WindowVisible(); }));
    EXPECT_EQ(UINT(MFS_DISABLED), CheckItemState() & MFS_DISABLED);
    std::vector<probe::AgentMenuItem> items;
    ASSERT_TRUE(tessel_.Click(tessel_.Window(), FileMenuPoint()));
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return !tessel_.WaitMenu(0, &items); }));
    EXPECT_TRUE(site.Answer() && front.Answer());
    ASSERT_TRUE(WaitCheckEnded());
    EXPECT_EQ(0u, CheckItemState() & MFS_DISABLED);
    SetCheckForUpdate(1);
    ASSERT_TRUE(tessel_.ChooseMenuItem(IDM_CHECK_UPDATES));
    EXPECT_TRUE(site.Answer() && front.Answer());
    EXPECT_TRUE(WaitCheckEnded());
}

TEST_F(MenuBarTest, OfflineNoCheckIsMade) {
    WebServer site(SitePort), front(FrontPort);
    SetCheckForUpdate(1);
    ASSERT_TRUE(Start(&tessel_));
    ASSERT_TRUE(WaitCheckEnded());
    EXPECT_FALSE(site.Asked() || front.Asked());
}

TEST_F(MenuBarTest, ExportAndImportMoveTheWholeSubtreeThroughTheRegistryTool) {
    const std::wstring file = PathOf(L"my settings.reg"), junk = PathOf(L"not settings.reg");
    std::ofstream(std::filesystem::path(file)) << "an older file";
    std::ofstream(std::filesystem::path(junk)) << "not a registry file";
    const std::wstring other = std::wstring(BaseKeyPath) + L"\\another user";
    SetFlag(PathOf(L"a.vhd"), StartupFlagOff);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, other.c_str(), L"C:\\c.vhd", REG_SZ, L"+", 4));
    const auto mine = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()),
               theirs = ReadValues(HKEY_LOCAL_MACHINE, other);
    ASSERT_TRUE(Start(&tessel_));
    // An existing file is overwritten without a question.
    EXPECT_EQ(BoxText(DoneCaption, ExportDoneMessage, {IDOK}),
              ChooseFile(IDM_EXPORT_SETTINGS, file, IDOK));
    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
    const std::wstring question = BoxText(ConfirmationCaption, ImportQuestion, {IDNO, IDYES});
    EXPECT_EQ(question, ChooseFile(IDM_IMPORT_SETTINGS, file, IDNO));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, BaseKeyPath));
    for (auto [path, caption, done] : {std::tuple(file, DoneCaption, ImportDoneMessage),
                                       {junk, ErrorCaption, ImportErrorMessage}}) {
        EXPECT_EQ(question, ChooseFile(IDM_IMPORT_SETTINGS, path, IDYES));
        EXPECT_EQ(BoxText(caption, done, {IDOK}), Answer(tessel_, IDOK));
    }
    EXPECT_EQ(mine, ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    EXPECT_EQ(theirs, ReadValues(HKEY_LOCAL_MACHINE, other));
}
TEST_F(MenuBarTest, AboutLinksOpenOnAClickOnly) {
    const std::wstring version = L"Tessel version " + std::to_wstring(BuiltInVersion >> 24) + L"." +
                                 std::to_wstring((BuiltInVersion >> 16) & 0xFF);
    ASSERT_TRUE(Start(&tessel_));
    tessel_.Post(WM_COMMAND, IDM_DONATE, 0);
    ASSERT_TRUE(WaitOpened(1));
    tessel_.Post(WM_COMMAND, IDM_ABOUT, 0);
    probe::Box about = NextBox(tessel_);
    EXPECT_TRUE(FindWindowExW(about.Window, nullptr, nullptr, version.c_str())) << Narrow(version);
    auto click = [&](int id) {
        POINT at = {4, 4};
        return ClientToScreen(GetDlgItem(about.Window, id), &at) && probe::ClickScreen(at);
    };
    SetForegroundWindow(about.Window);
    ASSERT_TRUE(
        probe::WaitFor(ExitTimeoutMs, [&] { return GetForegroundWindow() == about.Window; }));
    ASSERT_TRUE(click(IDC_DONATION_LINK) && WaitOpened(2));
    // Enter on the focused link opens nothing: the click after it, in the same input queue, is
    // handled after it.
    SetForegroundWindow(about.Window);
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(GetWindowThreadProcessId(about.Window, nullptr), &info) &&
               info.hwndFocus == GetDlgItem(about.Window, IDC_DONATION_LINK);
    }));
    INPUT enter[2] = {{INPUT_KEYBOARD, {}}, {INPUT_KEYBOARD, {}}};
    enter[0].ki.wVk = enter[1].ki.wVk = VK_RETURN;
    enter[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, enter, sizeof(INPUT));
    ASSERT_TRUE(click(IDC_SUPPORT_LINK) && WaitOpened(3));
    EXPECT_EQ((std::vector<std::string>{Narrow(TESSEL_DONATION_URL), Narrow(TESSEL_DONATION_URL),
                                        "mailto:" + Narrow(TESSEL_SUPPORT_EMAIL)}),
              Opened());
    EXPECT_TRUE(IsWindowVisible(about.Window));
}

} // namespace
} // namespace e2e
