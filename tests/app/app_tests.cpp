// A start-up in this process, for what cannot be seen from outside: the icons of the image
// list, and what teardown gives back.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/startup.h"
#include "disklist/pending.h"
#include "helpers.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <vector>

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

// The timed tries of a pending image: a late drive looked for often after a wake, then rarely; a
// busy file and an unreachable share backed off, then every two minutes.
TEST(RetrySchedule, WaitsByKindOfFailure) {
    using enum FailureKind;
    constexpr ULONGLONG Minute = 60 * 1000;
    // The waits after the first, second, ... failure of one kind.
    const struct {
        FailureKind Kind;
        ULONGLONG SinceWake;
        std::vector<DWORD> Seconds;
    } cases[] = {
        {WaitingForDrive, 0, {5, 5, 5}},
        {WaitingForDrive, 2 * Minute - 1, {5}},
        {WaitingForDrive, 2 * Minute, {60, 60}},
        {Busy, 0, {2, 4, 8, 16, 30, 60, 120, 120}},
        {Network, 3 * Minute, {5, 10, 20, 40, 60, 120, 120}},
    };
    for (const auto& c : cases)
        for (unsigned step = 1; step <= c.Seconds.size(); ++step)
            EXPECT_EQ(c.Seconds[step - 1] * 1000, RetryDelayMs(c.Kind, step, c.SinceWake))
                << int(c.Kind) << " step " << step << " since " << c.SinceWake;
}
