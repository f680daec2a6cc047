// A start-up in this process, for what cannot be seen from outside: which icon each image of
// the list is, what teardown gives back, and the icons of the boxes.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/startup.h"
#include "disklist/pending.h"
#include "helpers.h"
#include "msgbox_hook.h"
#include "resources/resource.h"
#include "settings/store.h"
#include "vdisk/diskimage.h"
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

// The pixels of an icon drawn at its own size on black.
std::vector<DWORD> Pixels(HICON icon) {
    ICONINFO info = {};
    BITMAP mask = {};
    GetIconInfo(icon, &info);
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    BITMAPINFO format = {};
    format.bmiHeader = {
        sizeof format.bmiHeader, mask.bmWidth, -mask.bmWidth, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, CreateDIBSection(dc, &format, 0, &bits, nullptr, 0));
    DrawIconEx(dc, 0, 0, icon, mask.bmWidth, mask.bmWidth, 0, nullptr, DI_NORMAL);
    std::vector<DWORD> pixels(static_cast<DWORD*>(bits),
                              static_cast<DWORD*>(bits) + mask.bmWidth * mask.bmWidth);
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    return pixels;
}

} // namespace

// Without usable settings keys: only the administrator message, no window, exit code 0.
TEST(RefusedStart, UnobtainableBaseKeyShowsOnlyTheAdministratorMessage) {
    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
    ASSERT_TRUE(BreakKey(BaseKeyPath));
    BoxAnswerer answerer;
    int exitCode = RunTessel(GetModuleHandleW(nullptr));
    MendKey(BaseKeyPath);

    EXPECT_EQ(0, exitCode);
    ASSERT_EQ(1u, answerer.Boxes().size());
    const ShownBox& box = answerer.Boxes()[0];
    EXPECT_EQ(ErrorCaption, box.Caption);
    EXPECT_EQ(AdministratorMessage, box.Text);
    EXPECT_EQ(UINT(MB_ICONWARNING), box.Icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
    EXPECT_EQ(nullptr, box.Owner);
    EXPECT_EQ(nullptr, FindWindowW(AppGuid, MainWindowTitle));
    App.InstanceMutex.reset();
    // Error boxes have the error icon; one for a code without a system text names the code.
    for (DWORD code : {DWORD(ERROR_ACCESS_DENIED), DWORD(0xE0F0BEEF)})
        ShowSystemError(code);
    ASSERT_EQ(3u, answerer.Boxes().size());
    EXPECT_EQ(L"Unknown error 3773873903 (0xE0F0BEEF).", answerer.Boxes()[2].Text);
    for (size_t shown : {1, 2})
        EXPECT_EQ(UINT(MB_ICONERROR), answerer.Boxes()[shown].Icon) << shown;
}

TEST(StartUp, LoadsTheListIconsAndTeardownGivesEverythingBack) {
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
    ASSERT_TRUE(StartTessel(GetModuleHandleW(nullptr)));

    const int ids[ListIconCount] = {IDI_LIST_DISK, IDI_LIST_ERROR, IDI_LIST_STARTUP_YES,
                                    IDI_LIST_STARTUP_NO};
    const int size = GetSystemMetrics(SM_CXSMICON);
    for (int image = 0; image < ListIconCount; ++image) {
        HICON own = HICON(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ids[image]),
                                     IMAGE_ICON, size, size, 0));
        EXPECT_TRUE(App.ListIcons[image] && Pixels(App.ListIcons[image].get()) == Pixels(own))
            << "image " << image;
        DestroyIcon(own);
    }
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
