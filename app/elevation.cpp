#include "app/elevation.h"
#include "app/globals.h"
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace {

// What a drop from Explorer sends; 0x0049 (WM_COPYGLOBALDATA) is not in the headers.
constexpr UINT DropMessages[] = {WM_DROPFILES, WM_COPYDATA, 0x0049};

template <typename Interface> void** Put(UniqueCom<Interface>& owner) {
    return reinterpret_cast<void**>(owner.put());
}

bool Elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    UniqueHandle owner(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated;
}

// Explorer starts it: the desktop's shell view hands out the shell's own automation object.
bool OpenThroughDesktop(const wchar_t* target) {
    UniqueCom<IShellWindows> windows;
    UniqueCom<IDispatch> desktop, background, application;
    UniqueCom<IServiceProvider> services;
    UniqueCom<IShellBrowser> browser;
    UniqueCom<IShellView> view;
    UniqueCom<IShellFolderViewDual> folderView;
    UniqueCom<IShellDispatch2> shell;
    UniqueBstr file(SysAllocString(target));
    VARIANT none = {};
    long desktopWindow = 0;
    return file &&
           SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IShellWindows, Put(windows))) &&
           windows->FindWindowSW(&none, &none, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                 desktop.put()) == S_OK &&
           SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, Put(services))) &&
           SUCCEEDED(
               services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, Put(browser))) &&
           SUCCEEDED(browser->QueryActiveShellView(view.put())) &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, Put(background))) &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, Put(folderView))) &&
           SUCCEEDED(folderView->get_Application(application.put())) &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, Put(shell))) &&
           SUCCEEDED(shell->ShellExecute(file.get(), none, none, none, none));
}

} // namespace

void AllowShellMessages() {
    ChangeWindowMessageFilterEx(App.MainWindow, App.TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    for (UINT message : DropMessages)
        ChangeWindowMessageFilterEx(App.DiskList, message, MSGFLT_ALLOW, nullptr);
}

// A browser or mail client started by the elevated Tessel would run elevated itself. With no
// shell running (no taskbar), asking for its windows could start one, elevated.
void OpenAsUser(const wchar_t* target) {
    if (Elevated() && FindWindowW(L"Shell_TrayWnd", nullptr) && OpenThroughDesktop(target))
        return;
    ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, SW_SHOW);
}
