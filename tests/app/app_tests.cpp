// A start-up in this process, for what cannot be seen from outside: the icons of the image
// list, and what teardown gives back.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/startup.h"
#include "helpers.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>

namespace {

bool TrayIconPresent(HWND window) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    return Shell_NotifyIconW(NIM_MODIFY, &data);
}

} // namespace

TEST(StartUp, LoadsTheListIconsAndTeardownGivesEverythingBack) {
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
    ASSERT_TRUE(StartTessel(GetModuleHandleW(nullptr)));

    for (int image = 0; image < ListIconCount; ++image)
        EXPECT_TRUE(App.ListIcons[image]) << "image " << image;
    EXPECT_EQ(ListIconCount, ImageList_GetImageCount(ImageListObject.List));

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
