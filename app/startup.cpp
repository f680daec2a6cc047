#include "app/startup.h"
#include "app/dpi.h"
#include "app/elevation.h"
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/mainwindow.h"
#include "app/trayicon.h"
#include "disklist/listview.h"
#include "disklist/load.h"
#include "resources/resource.h"
#include "settings/store.h"
#include "update/updater.h"
#include <objbase.h>

namespace {

constexpr DWORD PathBufferBytes = PathBufferChars * sizeof(wchar_t);
constexpr int ListIconIds[ListIconCount] = {IDI_LIST_DISK, IDI_LIST_ERROR, IDI_LIST_STARTUP_YES,
                                            IDI_LIST_STARTUP_NO};

void LearnWindowsVersion() {
    App.VersionInfo.dwOSVersionInfoSize = sizeof(App.VersionInfo);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL queried = GetVersionExW(&App.VersionInfo);
#pragma GCC diagnostic pop
    App.WindowsEightOrLater = WindowsEightOrLaterFrom(queried, App.VersionInfo);
}

// Shows the running instance's window as a double-click on its tray icon would;
// never waits on it. A mutex that cannot be opened belongs to another account's Tessel in
// this session: its window shows that account's list, so it is left alone.
bool AnotherInstanceRuns() {
    App.InstanceMutex.reset(CreateMutexW(nullptr, FALSE, AppGuid));
    if (!App.InstanceMutex && GetLastError() == ERROR_ACCESS_DENIED)
        return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    if (HWND running = FindWindowW(AppGuid, MainWindowTitle)) {
        DWORD process = 0;
        GetWindowThreadProcessId(running, &process);
        AllowSetForegroundWindow(process);
        PostMessageW(running, WM_APP_TRAY, 0, WM_LBUTTONDBLCLK);
    }
    return true;
}

int ScreenBitsPerPixel() {
    BITMAP bitmap = {};
    HDC screen = GetDC(nullptr);
    GetObjectW(GetCurrentObject(screen, OBJ_BITMAP), sizeof(bitmap), &bitmap);
    ReleaseDC(nullptr, screen);
    return bitmap.bmBitsPixel;
}

bool AllocatePathBuffers() {
    App.PathBuffer.reset(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, PathBufferBytes)));
    App.ModulePathBuffer.reset(
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, PathBufferBytes)));
    return App.PathBuffer && App.ModulePathBuffer;
}

void InitControls() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                     ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
}

void LoadMenus() {
    App.ContextMenu.reset(LoadMenuW(App.Instance, MAKEINTRESOURCEW(IDM_CONTEXT)));
    App.ContextSubmenu = GetSubMenu(App.ContextMenu.get(), 0);
    App.MenuBar.reset(LoadMenuW(App.Instance, MAKEINTRESOURCEW(IDM_MAINMENU)));
}

void RegisterMainClass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = App.Instance;
    wc.hIcon = LoadIconW(App.Instance, MAKEINTRESOURCEW(IDI_APP));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDM_MAINMENU);
    wc.lpszClassName = AppGuid;
    wc.hIconSm = App.AppIcon.get();
    App.ClassAtom = RegisterClassExW(&wc);
}

// Alt with "?" or "/" anywhere in the main window reaches the main window as the About command.
HWND AcceleratorTarget(HWND addressed) {
    if (addressed == App.MainWindow || IsChild(App.MainWindow, addressed))
        return App.MainWindow;
    return addressed;
}

} // namespace

void BuildImageList(UINT dpi) {
    // Icons loaded at the list's own size are drawn for it; scaled ones blur.
    const int size = SmallIconSize(dpi);
    if (!ImageListObject.List)
        ImageListObject.List =
            ImageList_Create(size, size, ImageListColorFlag(ScreenBitsPerPixel()), 3, 10);
    else
        ImageList_SetIconSize(ImageListObject.List, size, size);
    for (int i = 0; i < ListIconCount; ++i) {
        App.ListIcons[i].reset(static_cast<HICON>(
            LoadImageW(App.Instance, MAKEINTRESOURCEW(ListIconIds[i]), IMAGE_ICON, size, size, 0)));
        if (ImageListObject.List)
            ImageList_ReplaceIcon(ImageListObject.List, -1, App.ListIcons[i].get());
    }
}

UINT_PTR WindowsEightOrLaterFrom(BOOL queried, const OSVERSIONINFOW& version) {
    if (!queried)
        return 0;
    return version.dwMajorVersion > 6 ||
           (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2);
}

UINT ImageListColorFlag(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 16:
        return ILC_COLOR16;
    case 24:
        return ILC_COLOR24;
    case 32:
        return ILC_COLOR32;
    default:
        return ILC_COLOR8;
    }
}

int EnablePrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return 0;
    UniqueHandle owner(token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
        return 0;
    return AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) ? 1 : 0;
}

void ReleaseResources() {
    if (App.DiskList && App.DiskListProc)
        SetWindowLongPtrW(App.DiskList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(App.DiskListProc));
    if (App.ClassAtom)
        UnregisterClassW(MAKEINTATOM(App.ClassAtom), App.Instance);
    // The context menu takes its submenu with it.
    App.ContextSubmenu = nullptr;
    App.ContextMenu.reset();
    App.PathBuffer.reset();
    App.ModulePathBuffer.reset();
    App.AppIcon.reset();
    App.InstanceMutex.reset();
    RemoveTrayIcon();
    if (ImageListObject.List) {
        if (ImageListObject.Borrowed || ImageList_Destroy(ImageListObject.List))
            ImageListObject.List = nullptr;
    }
    for (UniqueHicon& icon : App.ListIcons)
        icon.reset();
    App.MenuBar.reset();
}

bool StartTessel(HINSTANCE instance) {
    CoInitialize(nullptr);
    LearnWindowsVersion();
    if (AnotherInstanceRuns())
        return false;
    EnablePrivilege(SE_BACKUP_NAME);
    EnablePrivilege(SE_RESTORE_NAME);
    // The one attaching a virtual disk needs.
    EnablePrivilege(SE_MANAGE_VOLUME_NAME);
    if (!OpenSettingsKeys()) {
        MessageBoxW(nullptr, AdministratorMessage, ErrorCaption, MB_OK | MB_ICONWARNING);
        return false;
    }
    App.Instance = instance;
    BuildImageList(WindowDpi(nullptr));
    if (!AllocatePathBuffers()) {
        MessageBoxW(nullptr, MemoryErrorMessage, ErrorCaption, MB_OK);
        ReleaseResources();
        return false;
    }
    App.AppIcon.reset(LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP)));
    InitControls();
    LoadMenus();
    RegisterMainClass();
    if (!CreateMainWindow() || !CreateDiskList()) {
        ReleaseResources();
        return false;
    }
    AllowShellMessages();
    SendMessageW(App.MainWindow, WM_SIZE, 0, 0);
    AttachDiskListImages(ImageListObject.List);
    LoadDiskList();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    if (HANDLE worker = CreateThread(nullptr, 0, UpdateWorker, nullptr, 0, nullptr))
        CloseHandle(worker);
    return true;
}

void RunMessageLoop() {
    HACCEL accelerators = LoadAcceleratorsW(App.Instance, MAKEINTRESOURCEW(IDA_MAIN));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        if (TranslateAcceleratorW(AcceleratorTarget(msg.hwnd), accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int RunTessel(HINSTANCE instance) {
    if (!StartTessel(instance))
        return 0;
    RunMessageLoop();
    ReleaseResources();
    return 1;
}
