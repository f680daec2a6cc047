#include "probe.h"
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <utility>

namespace probe {

namespace {

// Room for the longest path a row can hold, terminator included.
constexpr int RemoteTextChars = 32800;

INPUT Key(WORD key, wchar_t unicode, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = unicode ? unicode : WORD(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    return input;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

std::wstring TextOf(HWND window) {
    // WM_GETTEXT is marshalled across processes; GetWindowTextW would not ask a child.
    wchar_t text[4096] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

struct WindowSearch {
    DWORD Pid;
    const wchar_t* Class;
    const wchar_t* Title; // null: any
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (search->Pid && pid != search->Pid)
        return TRUE;
    if (ClassOf(window) != search->Class)
        return TRUE;
    if (search->Title) {
        wchar_t title[64] = {};
        GetWindowTextW(window, title, ARRAYSIZE(title));
        if (lstrcmpW(title, search->Title) != 0)
            return TRUE;
    }
    search->Found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* cls, const wchar_t* title) {
    WindowSearch search{pid, cls, title, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

int WindowThreadPriority(HWND window) {
    DWORD tid = GetWindowThreadProcessId(window, nullptr);
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, tid);
    if (!thread)
        return THREAD_PRIORITY_ERROR_RETURN;
    int priority = GetThreadPriority(thread);
    CloseHandle(thread);
    return priority;
}

bool ThreadAtIdlePriority(HWND window) {
    return WindowThreadPriority(window) == THREAD_PRIORITY_IDLE;
}

// One block in the target: the LVITEMW, then its text buffer.
class RemoteItem {
  public:
    explicit RemoteItem(HANDLE process) : process_(process) {
        base_ = static_cast<BYTE*>(
            VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + RemoteTextChars * sizeof(wchar_t),
                           MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteItem() {
        if (base_)
            VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    }
    RemoteItem(const RemoteItem&) = delete;
    RemoteItem& operator=(const RemoteItem&) = delete;
    explicit operator bool() const { return base_ != nullptr; }

    // LVM_GETITEMW for one sub-item; text and image always, the rest as mask asks.
    bool Get(HWND list, int row, int subItem, UINT extraMask, LVITEMW* item, std::wstring* text) {
        LVITEMW request = {};
        request.mask = LVIF_TEXT | LVIF_IMAGE | extraMask;
        request.iItem = row;
        request.iSubItem = subItem;
        request.stateMask = LVIS_STATEIMAGEMASK;
        request.pszText = reinterpret_cast<wchar_t*>(base_ + sizeof(LVITEMW));
        request.cchTextMax = RemoteTextChars;
        wchar_t empty = 0;
        if (!WriteProcessMemory(process_, base_, &request, sizeof(request), nullptr) ||
            !WriteProcessMemory(process_, request.pszText, &empty, sizeof(empty), nullptr))
            return false;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(base_),
                                 SMTO_ABORTIFHUNG, 5000, &result) ||
            !result)
            return false;
        if (!ReadProcessMemory(process_, base_, item, sizeof(*item), nullptr))
            return false;
        // The control may answer with a pointer of its own instead of filling ours.
        std::vector<wchar_t> buffer(RemoteTextChars + 1, 0);
        SIZE_T got = 0;
        if (item->pszText &&
            !ReadProcessMemory(process_, item->pszText, buffer.data(),
                               RemoteTextChars * sizeof(wchar_t), &got) &&
            got == 0)
            return false;
        text->assign(buffer.data());
        return true;
    }

    // LVM_GETCOLUMNW: one column's title.
    bool Title(HWND list, int column, std::wstring* text) {
        LVCOLUMNW request = {};
        request.mask = LVCF_TEXT;
        request.pszText = reinterpret_cast<wchar_t*>(base_ + sizeof(LVITEMW));
        request.cchTextMax = RemoteTextChars;
        wchar_t buffer[256] = {};
        DWORD_PTR result = 0;
        if (!WriteProcessMemory(process_, base_, &request, sizeof(request), nullptr) ||
            !SendMessageTimeoutW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(base_),
                                 SMTO_ABORTIFHUNG, 5000, &result) ||
            !result ||
            !ReadProcessMemory(process_, request.pszText, buffer, sizeof(buffer) - 2, nullptr))
            return false;
        text->assign(buffer);
        return true;
    }

  private:
    HANDLE process_;
    BYTE* base_ = nullptr;
};

} // namespace

std::wstring GetEnv(const wchar_t* name) {
    wchar_t value[32768];
    DWORD n = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    if (n == 0 || n >= ARRAYSIZE(value))
        return {};
    return value;
}

std::wstring WindowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/')
        return path;
    // Wine maps the Unix root to drive Z: unless the prefix was changed.
    using ToDos = wchar_t*(CDECL*)(const char*);
    auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos) {
        if (wchar_t* dos = toDos(Narrow(path).c_str())) {
            std::wstring result = dos;
            HeapFree(GetProcessHeap(), 0, dos);
            return result;
        }
    }
    std::wstring result = L"Z:" + path;
    for (wchar_t& c : result)
        if (c == L'/')
            c = L'\\';
    return result;
}

std::wstring TesselExe() {
    std::wstring exe = GetEnv(L"TESSEL_EXE");
    if (!exe.empty())
        return WindowsPath(exe);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    for (int up = 0; up < 3; ++up)
        path.resize(path.find_last_of(L'\\') == std::wstring::npos ? 0 : path.find_last_of(L'\\'));
    return path + L"\\tessel.exe";
}

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Target::~Target() {
    Close();
}

Target::Target(Target&& other) noexcept {
    *this = std::move(other);
}

Target& Target::operator=(Target&& other) noexcept {
    if (this != &other) {
        Close();
        process_ = std::exchange(other.process_, nullptr);
        agentHook_ = std::exchange(other.agentHook_, nullptr);
        pid_ = std::exchange(other.pid_, 0);
        window_ = std::exchange(other.window_, nullptr);
        list_ = std::exchange(other.list_, nullptr);
    }
    return *this;
}

void Target::Close() {
    if (agentHook_)
        UnhookWindowsHookEx(agentHook_);
    agentHook_ = nullptr;
    if (process_)
        CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
    window_ = list_ = nullptr;
}

bool Target::Launch(const std::wstring& exe, std::wstring* error) {
    Close();
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        if (error)
            *error =
                L"CreateProcessW(" + exe + L") failed, error " + std::to_wstring(GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    return true;
}

bool Target::Attach(DWORD timeoutMs) {
    Close();
    HWND found = nullptr;
    WaitFor(timeoutMs, [&] {
        found = FindWindowW(TesselClass, TesselTitle);
        return found != nullptr;
    });
    if (!found)
        return false;
    GetWindowThreadProcessId(found, &pid_);
    process_ = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid_);
    if (!process_) {
        pid_ = 0;
        return false;
    }
    FindWindows();
    return true;
}

bool Target::FindWindows() {
    std::vector<HWND> mains = TopLevelWindows(pid_, TesselClass, TesselTitle);
    window_ = mains.empty() ? nullptr : mains.front();
    list_ = window_ ? GetDlgItem(window_, ListId) : nullptr;
    if (list_ && ClassOf(list_) != WC_LISTVIEWW)
        list_ = nullptr;
    return window_ && list_;
}

bool Target::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Target::WaitIdle(DWORD timeoutMs) {
    if (!process_)
        return false;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD waited = WaitForInputIdle(process_, timeoutMs);
    if (waited == WAIT_TIMEOUT || !Running())
        return false;
    // The priority drops only after the load, just before the loop: an earlier idle
    // moment (a nested wait during start-up) does not count.
    for (;;) {
        if (FindWindows() && ThreadAtIdlePriority(window_))
            return true;
        if (!Running() || GetTickCount64() >= deadline)
            return false;
        Sleep(10);
    }
}

bool Target::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    if (exitCode)
        *exitCode = code;
    return true;
}

void Target::Kill() {
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
}

int Target::HandleCount() const {
    // SYSTEM_HANDLE_TABLE_ENTRY_INFO; the owner's id fills the first 32 bits for ids
    // below 65,536, as Wine's are.
    struct Entry {
        ULONG Pid;
        USHORT Flags, Value;
        void* Object;
        ULONG Access;
    };
    constexpr auto SystemHandleInformation = SYSTEM_INFORMATION_CLASS(16);
    std::vector<BYTE> table(1 << 20);
    ULONG size = 0;
    while (NtQuerySystemInformation(SystemHandleInformation, table.data(), ULONG(table.size()),
                                    &size) == LONG(0xC0000004)) // STATUS_INFO_LENGTH_MISMATCH
        table.resize(table.size() * 2);
    ULONG count = *reinterpret_cast<ULONG*>(table.data());
    if (size < sizeof(ULONG_PTR) + count * sizeof(Entry))
        return -1;
    auto* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
    return int(std::count_if(entries, entries + count,
                             [this](const Entry& entry) { return entry.Pid == pid_; }));
}

bool Target::Answers(DWORD timeoutMs) const {
    return window_ &&
           SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, nullptr);
}

int Target::RowCount() const {
    if (!list_)
        return -1;
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list_, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count))
        return -1;
    return int(count);
}

bool Target::ReadRows(std::vector<Row>* rows) const {
    rows->clear();
    int count = RowCount();
    if (count < 0)
        return false;
    RemoteItem remote(process_);
    if (!remote)
        return false;
    for (int i = 0; i < count; ++i) {
        Row row;
        LVITEMW item = {};
        if (!remote.Get(list_, i, 0, LVIF_PARAM | LVIF_STATE, &item, &row.Path))
            return false;
        row.PathImage = item.iImage;
        row.Handle = item.lParam;
        row.CheckState = int((item.state & LVIS_STATEIMAGEMASK) >> 12);
        if (!remote.Get(list_, i, 1, 0, &item, &row.Status))
            return false;
        row.StatusImage = item.iImage;
        if (!remote.Get(list_, i, 2, 0, &item, &row.Startup))
            return false;
        row.StartupImage = item.iImage;
        rows->push_back(std::move(row));
    }
    return true;
}

std::vector<std::wstring> Target::ColumnTitles() const {
    std::vector<std::wstring> titles;
    RemoteItem remote(process_);
    std::wstring title;
    while (remote && list_ && remote.Title(list_, int(titles.size()), &title))
        titles.push_back(title);
    return titles;
}

std::vector<Row> Target::Rows() const {
    std::vector<Row> rows;
    ReadRows(&rows);
    return rows;
}

bool Target::SetPriority(int priority) const {
    DWORD tid = GetWindowThreadProcessId(window_, nullptr);
    HANDLE thread = OpenThread(THREAD_SET_INFORMATION, FALSE, tid);
    if (!thread)
        return false;
    bool set = SetThreadPriority(thread, priority);
    CloseHandle(thread);
    return set;
}

int Target::Priority() const {
    return WindowThreadPriority(window_);
}

bool Target::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    return window_ && PostMessageW(window_, message, wParam, lParam);
}

bool Target::TrayIconPresent() const {
    if (!window_)
        return false;
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window_;
    data.uID = 0;
    data.uFlags = 0;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool Target::PressKeys(std::initializer_list<WORD> keys) const {
    if (!window_ || !SetForegroundWindow(window_))
        return false;
    std::vector<INPUT> inputs;
    for (WORD key : keys)
        inputs.push_back(Key(key, 0, 0));
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
        inputs.push_back(Key(*key, 0, KEYEVENTF_KEYUP));
    return SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool ClickScreen(POINT at, bool right) {
    std::vector<INPUT> inputs;
    for (DWORD button : {0, 1, 2}) {
        INPUT input = {};
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
        if (button == 1)
            input.mi.dwFlags |= right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
        if (button == 2)
            input.mi.dwFlags |= right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
        inputs.push_back(input);
    }
    return SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

namespace {

bool SendKeys(std::vector<INPUT> inputs) {
    return SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

std::wstring AgentPath() {
    std::wstring path = GetEnv(L"PROBE_AGENT");
    if (!path.empty())
        return WindowsPath(path);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"probe_agent.dll";
}

} // namespace

bool Target::Click(HWND window, POINT at, bool right) const {
    return window_ && SetForegroundWindow(window_) && ClientToScreen(window, &at) &&
           ClickScreen(at, right);
}

bool Target::Select(const std::vector<int>& rows) const {
    LVITEMW* remote = static_cast<LVITEMW*>(
        VirtualAllocEx(process_, nullptr, sizeof(LVITEMW), MEM_COMMIT, PAGE_READWRITE));
    bool ok = remote != nullptr;
    auto set = [&](int row, UINT state) {
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = state;
        ok = ok && WriteProcessMemory(process_, remote, &item, sizeof(item), nullptr) &&
             SendMessageTimeoutW(list_, LVM_SETITEMSTATE, WPARAM(row),
                                 reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000, nullptr);
    };
    set(-1, 0);
    for (int row : rows)
        set(row, LVIS_SELECTED | LVIS_FOCUSED);
    if (remote)
        VirtualFreeEx(process_, remote, 0, MEM_RELEASE);
    return ok;
}

bool Target::ItemRect(int row, int part, RECT* rect) const {
    void* remote = VirtualAllocEx(process_, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    RECT request = {part, 0, 0, 0};
    DWORD_PTR result = 0;
    bool ok = remote && WriteProcessMemory(process_, remote, &request, sizeof(request), nullptr) &&
              SendMessageTimeoutW(list_, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote),
                                  SMTO_ABORTIFHUNG, 5000, &result) &&
              result && ReadProcessMemory(process_, remote, rect, sizeof(*rect), nullptr);
    if (remote)
        VirtualFreeEx(process_, remote, 0, MEM_RELEASE);
    return ok;
}

POINT Target::RowPoint(int row) const {
    RECT label = {};
    ItemRect(row, LVIR_LABEL, &label);
    return {label.left + 20, (label.top + label.bottom) / 2};
}

POINT Target::CheckBoxPoint(int row) const {
    // The check box is the state image, just left of the row's small icon.
    RECT icon = {};
    ItemRect(row, LVIR_ICON, &icon);
    return {icon.left - 8, (icon.top + icon.bottom) / 2};
}

bool Target::TypeLine(const std::wstring& text) const {
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        inputs.push_back(Key(0, c, KEYEVENTF_UNICODE));
        inputs.push_back(Key(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    inputs.push_back(Key(VK_RETURN, 0, 0));
    inputs.push_back(Key(VK_RETURN, 0, KEYEVENTF_KEYUP));
    return SendKeys(inputs);
}

bool Target::AskAgent(WPARAM request, AgentBlock* block) {
    static const UINT message = RegisterWindowMessageW(AgentMessageName);
    if (!agentHook_) {
        HMODULE agent = LoadLibraryW(AgentPath().c_str());
        auto hook = agent ? reinterpret_cast<HOOKPROC>(
                                reinterpret_cast<void*>(GetProcAddress(agent, "AgentHook")))
                          : nullptr;
        if (hook)
            agentHook_ = SetWindowsHookExW(WH_CALLWNDPROC, hook, agent,
                                           GetWindowThreadProcessId(window_, nullptr));
        if (!agentHook_)
            return false;
    }
    wchar_t name[64];
    AgentBlockName(pid_, name);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(AgentBlock), name);
    if (!mapping)
        return false;
    auto* shared = static_cast<AgentBlock*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    bool ok = shared != nullptr;
    if (ok) {
        CopyMemory(shared, block, sizeof(AgentBlock));
        // A drop of many names takes Tessel a while.
        ok = SendMessageTimeoutW(window_, message, request, 0, SMTO_ABORTIFHUNG, 60000, nullptr);
        CopyMemory(block, shared, sizeof(AgentBlock));
        UnmapViewOfFile(shared);
    }
    CloseHandle(mapping);
    return ok;
}

HWND Target::OpenMenuWindow() const {
    for (HWND menu : TopLevelWindows(pid_, L"#32768", nullptr))
        if (IsWindowVisible(menu))
            return menu;
    return nullptr;
}

bool Target::WaitMenu(DWORD timeoutMs, std::vector<AgentMenuItem>* items) {
    auto block = std::make_unique<AgentBlock>();
    bool ok = WaitFor(timeoutMs, [&] {
        block->ItemCount = 0;
        return OpenMenuWindow() && AskAgent(ReadMenu, block.get()) && block->ItemCount > 0;
    });
    items->assign(block->Items, block->Items + block->ItemCount);
    return ok;
}

bool Target::ChooseMenuItem(UINT id) {
    std::vector<AgentMenuItem> items;
    if (!WaitMenu(5000, &items))
        return false;
    for (const AgentMenuItem& item : items)
        if (item.Id == id)
            return ClickScreen({(item.Screen.left + item.Screen.right) / 2,
                                (item.Screen.top + item.Screen.bottom) / 2},
                               false) &&
                   WaitFor(5000, [&] { return !OpenMenuWindow(); });
    return false;
}

bool Target::CloseMenu() {
    return SendKeys({Key(VK_ESCAPE, 0, 0), Key(VK_ESCAPE, 0, KEYEVENTF_KEYUP)}) &&
           WaitFor(5000, [&] { return !OpenMenuWindow(); });
}

bool Target::Drop(const std::vector<std::wstring>& files) {
    auto block = std::make_unique<AgentBlock>();
    wchar_t* next = block->Files;
    for (const std::wstring& file : files) {
        lstrcpyW(next, file.c_str());
        next += file.size() + 1;
    }
    *next = 0;
    return AskAgent(DropFiles, block.get());
}

bool Target::MeasureList(const std::vector<std::wstring>& texts, int* imageSize,
                         std::vector<int>* widths) {
    auto block = std::make_unique<AgentBlock>();
    wchar_t* next = block->Files;
    for (const std::wstring& text : texts)
        next = std::copy(text.begin(), text.end(), next) + 1;
    if (texts.size() > AgentMaxItems || !AskAgent(probe::MeasureList, block.get()))
        return false;
    *imageSize = block->ImageSize;
    widths->assign(block->TextWidths, block->TextWidths + texts.size());
    return true;
}

bool Target::ChangeDpi(UINT dpi, const RECT& suggested) {
    auto block = std::make_unique<AgentBlock>();
    block->Dpi = dpi;
    block->Suggested = suggested;
    return AskAgent(probe::ChangeDpi, block.get());
}

std::vector<int> Target::ColumnWidths() const {
    std::vector<int> widths;
    for (DWORD_PTR width = 0; SendMessageTimeoutW(list_, LVM_GETCOLUMNWIDTH, widths.size(), 0,
                                                  SMTO_ABORTIFHUNG, 5000, &width) &&
                              width;)
        widths.push_back(int(width));
    return widths;
}

std::vector<Box> Target::Boxes() const {
    std::vector<Box> boxes;
    for (HWND dialog : TopLevelWindows(pid_, L"#32770", nullptr)) {
        if (!IsWindowVisible(dialog))
            continue;
        Box box;
        box.Window = dialog;
        wchar_t caption[512] = {};
        GetWindowTextW(dialog, caption, ARRAYSIZE(caption));
        box.Caption = caption;
        if (HWND text = GetDlgItem(dialog, 0xFFFF))
            box.Text = TextOf(text);
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0 || !IsWindowVisible(child))
                continue;
            bool isDefault = (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            box.Buttons.push_back({GetDlgCtrlID(child), TextOf(child), isDefault, child});
        }
        boxes.push_back(std::move(box));
    }
    return boxes;
}

bool Target::WaitBox(DWORD timeoutMs, Box* box) const {
    return WaitFor(timeoutMs, [&] {
        std::vector<Box> boxes = Boxes();
        if (boxes.empty())
            return false;
        *box = boxes.front();
        return true;
    });
}

std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? TextOf(control) : std::wstring();
}

bool PressButton(const Box& box, int id) {
    for (const BoxButton& button : box.Buttons)
        if (button.Id == id)
            return PostMessageW(box.Window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                reinterpret_cast<LPARAM>(button.Window)) != FALSE;
    return false;
}

int KillStrayTessels() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    int killed = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"tessel.exe") != 0)
            continue;
        if (HANDLE process =
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
            if (TerminateProcess(process, 99)) {
                WaitForSingleObject(process, 5000);
                ++killed;
            }
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return killed;
}

std::wstring Describe(const Row& row) {
    wchar_t images[96];
    swprintf(images, ARRAYSIZE(images), L"check %d, images %d/%d/%d, handle %s", row.CheckState,
             row.PathImage, row.StatusImage, row.StartupImage, row.Handle ? L"set" : L"0");
    return L"\"" + row.Path + L"\" | \"" + row.Status + L"\" | \"" + row.Startup + L"\" | " +
           images;
}

std::wstring Describe(const std::vector<Row>& rows) {
    std::wstring out;
    for (size_t i = 0; i < rows.size(); ++i)
        out += L"  row " + std::to_wstring(i) + L": " + Describe(rows[i]) + L"\n";
    return out.empty() ? L"  (no rows)\n" : out;
}

} // namespace probe

namespace probe {

namespace {

// Wine's shell32 packs a call as: hWnd (32 bits), uID, uFlags, uCallbackMessage, then the texts
// and flags at these offsets.
constexpr size_t TipOffset = 16, InfoOffset = 280, InfoTitleOffset = 796, InfoFlagsOffset = 924;

std::wstring TextAt(const TrayRecord& record, size_t offset, size_t chars) {
    if (record.Bytes < offset + chars * sizeof(wchar_t))
        return {};
    const auto* text = reinterpret_cast<const wchar_t*>(record.Data + offset);
    return std::wstring(text, std::find(text, text + chars, L'\0'));
}

} // namespace

TrayWatch::TrayWatch() {
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TrayLog),
                                  TrayLogName);
    log_ = mapping_ ? static_cast<TrayLog*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                    : nullptr;
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    HMODULE agent = LoadLibraryW(AgentPath().c_str());
    auto hook =
        agent
            ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(agent, "TrayHook")))
            : nullptr;
    if (log_ && tray && hook)
        hook_ =
            SetWindowsHookExW(WH_CALLWNDPROC, hook, agent, GetWindowThreadProcessId(tray, nullptr));
    // The hook takes its place on the window with the first message the window gets.
    if (hook_ && !SendMessageTimeoutW(tray, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr)) {
        UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }
}

TrayWatch::~TrayWatch() {
    static const UINT stop = RegisterWindowMessageW(TrayLogName);
    if (hook_) {
        SendMessageTimeoutW(FindWindowW(L"Shell_TrayWnd", nullptr), stop, 0, 0, SMTO_ABORTIFHUNG,
                            5000, nullptr);
        UnhookWindowsHookEx(hook_);
    }
    if (log_)
        UnmapViewOfFile(log_);
    if (mapping_)
        CloseHandle(mapping_);
}

std::vector<TrayCall> TrayWatch::Calls(HWND owner) const {
    std::vector<TrayCall> calls;
    const LONG count = log_ ? std::min<LONG>(LONG(log_->Count), LONG(TrayLogRecords)) : 0;
    for (LONG i = 0; i < count; ++i) {
        const TrayRecord& record = log_->Records[i];
        const auto* words = reinterpret_cast<const UINT*>(record.Data);
        if (record.Bytes < InfoFlagsOffset + 4 || words[0] != UINT(UINT_PTR(owner)) || words[1])
            continue;
        TrayCall call;
        call.Message = record.Message;
        call.Flags = words[2];
        call.Tip = TextAt(record, TipOffset, 128);
        call.Info = TextAt(record, InfoOffset, 256);
        call.InfoTitle = TextAt(record, InfoTitleOffset, 64);
        call.InfoFlags = *reinterpret_cast<const DWORD*>(record.Data + InfoFlagsOffset);
        calls.push_back(call);
    }
    return calls;
}

bool BroadcastVolumeArrival(DWORD unitMask) {
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = unitMask;
    DWORD recipients = BSM_ALLDESKTOPS | BSM_APPLICATIONS;
    return BroadcastSystemMessageW(BSF_FORCEIFHUNG | BSF_QUERY, &recipients, WM_DEVICECHANGE,
                                   DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)) > 0;
}

} // namespace probe
