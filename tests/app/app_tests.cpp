// A start-up in this process, for what cannot be seen from outside: the notifications the
// list procedure gets during the load, the icons of the image list, the box of a second
// update check, and what teardown gives back.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "helpers.h"
#include "msgbox_hook.h"
#include "resources/resource.h"
#include "sequence.h"
#include <gtest/gtest.h>
#include <commctrl.h>

namespace {

MsgSequence ReachedList;

// The item changes the main window passes on to the list procedure.
LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam) {
    auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    auto* change = reinterpret_cast<const NMLISTVIEW*>(sent->lParam);
    if (code == HC_ACTION && sent->message == WM_NOTIFY && sent->hwnd &&
        sent->hwnd == App.DiskList && change->hdr.code == LVN_ITEMCHANGED)
        ReachedList.Add({LVN_ITEMCHANGED, Sent, WPARAM(change->iItem),
                         MAKELPARAM(change->uOldState, change->uNewState)});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool TrayIconPresent(HWND window) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    return Shell_NotifyIconW(NIM_MODIFY, &data);
}

} // namespace

TEST(StartUp, HandsTheListItsNotificationsAndTeardownGivesEverythingBack) {
    const std::wstring user = UserSettingsPath();
    DeleteTree(HKEY_LOCAL_MACHINE, user);
    for (auto [path, flag] : {std::pair{L"C:\\absent\\a.vhd", L"+"},
                              {L"C:\\absent\\b.vhd", L"-"},
                              {L"C:\\absent\\c.vhd", L"+xyz"}}) {
        std::vector<BYTE> data = StringData(flag);
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, user.c_str(), path, REG_SZ, data.data(),
                        DWORD(data.size()));
    }
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordSent, nullptr, GetCurrentThreadId());
    bool started = StartTessel(GetModuleHandleW(nullptr));
    UnhookWindowsHookEx(hook);
    DeleteTree(HKEY_LOCAL_MACHINE, user);
    ASSERT_TRUE(started);

    // Checking a marked row raises a change, which the main window passes on to the list.
    const LPARAM checked = MAKELPARAM(0x1000, 0x2000);
    EXPECT_TRUE(ReachedList.Matches({{LVN_ITEMCHANGED, Sent | WParam | LParam, 0, checked},
                                     {LVN_ITEMCHANGED, Sent | WParam | LParam, 2, checked}},
                                    "load"));

    // Icons are shared within a process: the same resource gives back the same handle.
    const int icons[ListIconCount] = {IDI_LIST_DISK, IDI_LIST_ERROR, IDI_LIST_STARTUP_YES,
                                      IDI_LIST_STARTUP_NO};
    for (int image = 0; image < ListIconCount; ++image)
        EXPECT_EQ(LoadIconW(App.Instance, MAKEINTRESOURCEW(icons[image])),
                  App.ListIcons[image].get())
            << "image " << image;
    EXPECT_EQ(ListIconCount, ImageList_GetImageCount(ImageListObject.List));

    {
        App.UpdateInProgress = 1;
        BoxAnswerer answerer;
        SendMessageW(App.MainWindow, WM_COMMAND, IDM_CHECK_UPDATES, 0);
        App.UpdateInProgress = 0;
        ASSERT_EQ(1u, answerer.Boxes().size());
        EXPECT_EQ(InformationCaption, answerer.Boxes()[0].Caption);
        EXPECT_EQ(UpdateRunningMessage, answerer.Boxes()[0].Text);
    }

    HMENU menus[] = {App.ContextMenu.get(), App.ContextSubmenu, App.MenuBar.get()};
    ASSERT_TRUE(TrayIconPresent(App.MainWindow));
    ReleaseResources();
    EXPECT_FALSE(TrayIconPresent(App.MainWindow));
    for (HMENU menu : menus)
        EXPECT_FALSE(IsMenu(menu));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(App.DiskListProc),
              GetWindowLongPtrW(App.DiskList, GWLP_WNDPROC));
    EXPECT_FALSE(App.PathBuffer || App.ModulePathBuffer || App.AppIcon);
    EXPECT_EQ(nullptr, ImageListObject.List);
    for (const UniqueHicon& icon : App.ListIcons)
        EXPECT_FALSE(icon);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, AppGuid);
    EXPECT_NE(DWORD(ERROR_ALREADY_EXISTS), GetLastError()) << "the instance mutex is closed";
    CloseHandle(mutex);
}
