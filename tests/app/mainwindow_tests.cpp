// The main window of a real start-up in this process: hiding to the tray, showing, layout,
// the Exit question and the shortcuts.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "msgbox_hook.h"
#include "registry_fixtures.h"
#include "resources/resource.h"
#include "tray.h"
#include <gtest/gtest.h>

namespace {

class MainWindow : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
        ASSERT_TRUE(StartTessel(GetModuleHandleW(nullptr)));
    }
    void SetUp() override {
        DiscardQuit();
        Hide();
    }
    static void Hide() { SendMessageW(App.MainWindow, WM_CLOSE, 0, 0); }
    static void Show() { SendMessageW(App.MainWindow, WM_APP_TRAY, 0, WM_LBUTTONDBLCLK); }
    static bool QuitPosted() {
        MSG msg;
        return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }
    static void DiscardQuit() { QuitPosted(); }
    static int ColumnWidth(int column) {
        return static_cast<int>(SendMessageW(App.DiskList, LVM_GETCOLUMNWIDTH, column, 0));
    }
};

} // namespace

TEST_F(MainWindow, FirstStartCreatesTheBaseKeyAndTheUserKey) {
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, BaseSettingsPath()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserSettingsPath()))
        << "user " << testing::PrintToString(CurrentUserName());
}

TEST_F(MainWindow, StartsHiddenWithItsTrayIconAndBalloon) {
    EXPECT_FALSE(IsWindowVisible(App.MainWindow));
    EXPECT_TRUE(TrayIconPresent(App.MainWindow));
    wchar_t title[64] = {};
    GetWindowTextW(App.MainWindow, title, 64);
    EXPECT_STREQ(L"Tessel", title);
    EXPECT_EQ(App.MainWindow, FindWindowW(L"{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}", L"Tessel"));
    EXPECT_EQ(static_cast<LONG>(WS_OVERLAPPEDWINDOW),
              GetWindowLongW(App.MainWindow, GWL_STYLE) & WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(0, GetWindowLongW(App.MainWindow, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE);

    const NOTIFYICONDATAW& tray = App.TrayIconRecord;
    EXPECT_EQ(976u, tray.cbSize);
    EXPECT_EQ(App.MainWindow, tray.hWnd);
    EXPECT_EQ(0u, tray.uID);
    EXPECT_EQ(0x17u, tray.uFlags);
    EXPECT_EQ(1124u, tray.uCallbackMessage);
    EXPECT_EQ(App.AppIcon.get(), tray.hIcon);
    EXPECT_NE(nullptr, tray.hIcon);
    EXPECT_STREQ(L"Double-click to open Tessel Window", tray.szTip);
    EXPECT_STREQ(L"Double-click to open Tessel Window", tray.szInfo);
    EXPECT_STREQ(L"", tray.szInfoTitle);
    EXPECT_EQ(0u, tray.dwInfoFlags);
}

TEST_F(MainWindow, OnlyADoubleClickOnTheIconShowsTheWindow) {
    const LPARAM ignored[] = {WM_LBUTTONDOWN,   WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP,
                              WM_RBUTTONDBLCLK, WM_MOUSEMOVE, WM_CONTEXTMENU};
    for (LPARAM mouse : ignored) {
        SendMessageW(App.MainWindow, WM_APP_TRAY, 0, mouse);
        EXPECT_FALSE(IsWindowVisible(App.MainWindow)) << "mouse message 0x" << std::hex << mouse;
        EXPECT_TRUE(TrayIconPresent(App.MainWindow)) << "mouse message 0x" << std::hex << mouse;
    }
    Show();
    EXPECT_TRUE(IsWindowVisible(App.MainWindow));
    EXPECT_FALSE(IsIconic(App.MainWindow));
    EXPECT_FALSE(TrayIconPresent(App.MainWindow));
}

TEST_F(MainWindow, CloseAndMinimiseHideToTheTray) {
    struct Case {
        const char* Name;
        UINT Message;
        WPARAM WParam;
    } cases[] = {{"WM_CLOSE", WM_CLOSE, 0}, {"SC_MINIMIZE", WM_SYSCOMMAND, SC_MINIMIZE}};
    for (const Case& c : cases) {
        Show();
        ASSERT_FALSE(TrayIconPresent(App.MainWindow));
        EXPECT_EQ(0, SendMessageW(App.MainWindow, c.Message, c.WParam, 0)) << c.Name;
        EXPECT_FALSE(IsWindowVisible(App.MainWindow)) << c.Name;
        EXPECT_TRUE(TrayIconPresent(App.MainWindow)) << c.Name;
        EXPECT_TRUE(IsWindow(App.MainWindow)) << c.Name << " must not destroy the window";
    }
}

TEST_F(MainWindow, MinimumTrackingSizeIs320By200) {
    MINMAXINFO info = {};
    info.ptMaxSize = {1111, 777};
    info.ptMaxTrackSize = {2222, 1555};
    EXPECT_EQ(0,
              SendMessageW(App.MainWindow, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_EQ(320, info.ptMinTrackSize.x);
    EXPECT_EQ(200, info.ptMinTrackSize.y);
    EXPECT_EQ(1111, info.ptMaxSize.x);
    EXPECT_EQ(2222, info.ptMaxTrackSize.x);
}

TEST_F(MainWindow, ListFillsTheClientAreaAndColumnsFollowTheWidth) {
    Show();
    const SIZE sizes[] = {{640, 400}, {800, 600}, {1024, 700}, {1234, 567}};
    for (SIZE size : sizes) {
        SetWindowPos(App.MainWindow, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOMOVE);
        RECT client = {}, list = {};
        GetClientRect(App.MainWindow, &client);
        GetWindowRect(App.DiskList, &list);
        MapWindowPoints(nullptr, App.MainWindow, reinterpret_cast<POINT*>(&list), 2);
        EXPECT_EQ(client.right, list.right - list.left) << size.cx << "x" << size.cy;
        EXPECT_EQ(client.bottom, list.bottom - list.top) << size.cx << "x" << size.cy;
        EXPECT_EQ(0, list.left);
        EXPECT_EQ(0, list.top);
        EXPECT_EQ(client.right - 250, ColumnWidth(0)) << size.cx << "x" << size.cy;
        EXPECT_EQ(190, ColumnWidth(1));
        EXPECT_EQ(210, ColumnWidth(2));
    }
}

TEST_F(MainWindow, ExitAsksWithNoAsDefaultAndNoChangesNothing) {
    BoxAnswerer answerer({IDNO});
    SendMessageW(App.MainWindow, WM_COMMAND, IDM_EXIT, 0);
    ASSERT_EQ(1u, answerer.Boxes().size());
    const ShownBox& box = answerer.Boxes()[0];
    EXPECT_EQ(L"Question", box.Caption);
    EXPECT_EQ(L"Are you sure want to exit ?\r\nNote, all mounted disk's will be unmounted.",
              box.Text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION), box.Icon);
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.Buttons);
    EXPECT_EQ(IDNO, box.DefaultButton);
    EXPECT_EQ(App.MainWindow, box.Owner);
    EXPECT_FALSE(QuitPosted());
    EXPECT_TRUE(IsWindow(App.MainWindow));
    EXPECT_TRUE(TrayIconPresent(App.MainWindow));
}

TEST_F(MainWindow, ExitConfirmedAndQuitRequestEndTheLoop) {
    {
        BoxAnswerer answerer({IDYES});
        SendMessageW(App.MainWindow, WM_COMMAND, IDM_EXIT, 0);
        EXPECT_EQ(1u, answerer.Boxes().size());
    }
    EXPECT_TRUE(QuitPosted()) << "Yes to the Exit question";
    {
        BoxAnswerer answerer;
        EXPECT_EQ(0, SendMessageW(App.MainWindow, WM_USER + 1, 0, 0));
        EXPECT_TRUE(answerer.Boxes().empty()) << "the quit request asks nothing";
    }
    EXPECT_TRUE(QuitPosted()) << "quit request";
}

TEST_F(MainWindow, UpdateCommandWhileACheckRunsOnlySaysSo) {
    App.UpdateInProgress = 1;
    BoxAnswerer answerer;
    SendMessageW(App.MainWindow, WM_COMMAND, IDM_CHECK_UPDATES, 0);
    App.UpdateInProgress = 0;
    ASSERT_EQ(1u, answerer.Boxes().size());
    EXPECT_EQ(L"Iformation", answerer.Boxes()[0].Caption);
    EXPECT_EQ(L"Update already in progress ...", answerer.Boxes()[0].Text);
    EXPECT_EQ(std::vector<int>{IDOK}, answerer.Boxes()[0].Buttons);
    EXPECT_EQ(0u, answerer.Boxes()[0].Icon);
}

TEST_F(MainWindow, TaskbarRestartBringsBackTheIconOfAHiddenWindowOnly) {
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    Shell_NotifyIconW(NIM_DELETE, &App.TrayIconRecord); // what a shell restart does to it
    ASSERT_FALSE(TrayIconPresent(App.MainWindow));
    SendMessageW(App.MainWindow, taskbarCreated, 0, 0);
    EXPECT_TRUE(TrayIconPresent(App.MainWindow));

    Show();
    SendMessageW(App.MainWindow, taskbarCreated, 0, 0);
    EXPECT_FALSE(TrayIconPresent(App.MainWindow)) << "a shown window has no icon";
}

namespace {

// Runs the program's own message loop until a quit request, or gives up after a while.
void RunLoopUntilQuit() {
    UINT_PTR timer =
        SetTimer(nullptr, 0, 3000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); });
    RunMessageLoop();
    KillTimer(nullptr, timer);
}

void PressAlt(bool down) {
    BYTE keys[256] = {};
    keys[VK_MENU] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

} // namespace

TEST_F(MainWindow, AltQuestionMarkAndAltSlashOpenAbout) {
    for (wchar_t key : {L'?', L'/'}) {
        BoxAnswerer answerer({IDOK}, [](HWND, const ShownBox&) {
            PostMessageW(App.MainWindow, WM_USER + 1, 0, 0);
            return false;
        });
        // Accelerators read Alt from the thread's key state; the character comes to the
        // list, which has the focus when the window is shown.
        PressAlt(true);
        PostMessageW(App.DiskList, WM_SYSCHAR, key, 0x20000001);
        RunLoopUntilQuit();
        PressAlt(false);
        ASSERT_EQ(1u, answerer.Boxes().size()) << "key " << static_cast<char>(key);
        EXPECT_EQ(L"About Tessel", answerer.Boxes()[0].Caption);
        EXPECT_EQ(App.MainWindow, answerer.Boxes()[0].Owner);
    }
}

TEST_F(MainWindow, QuestionMarkWithoutAltOpensNothing) {
    BoxAnswerer answerer({IDOK});
    PostMessageW(App.DiskList, WM_CHAR, L'?', 1);
    PostMessageW(App.MainWindow, WM_USER + 1, 0, 0);
    RunLoopUntilQuit();
    EXPECT_TRUE(answerer.Boxes().empty());
}

// Last in this suite: it ends the program's resources.
TEST_F(MainWindow, TeardownReleasesWhatStartUpAcquired) {
    HMENU context = App.ContextMenu.get();
    HMENU submenu = App.ContextSubmenu;
    HMENU bar = App.MenuBar.get();
    ASSERT_TRUE(IsMenu(context) && IsMenu(submenu) && IsMenu(bar));
    ASSERT_TRUE(TrayIconPresent(App.MainWindow));

    ReleaseResources();

    EXPECT_EQ(reinterpret_cast<LONG_PTR>(App.DiskListProc),
              GetWindowLongPtrW(App.DiskList, GWLP_WNDPROC))
        << "the list's own procedure is back";
    EXPECT_FALSE(IsMenu(context));
    EXPECT_FALSE(IsMenu(submenu));
    EXPECT_FALSE(IsMenu(bar));
    EXPECT_FALSE(App.PathBuffer);
    EXPECT_FALSE(App.ModulePathBuffer);
    EXPECT_FALSE(App.AppIcon);
    EXPECT_FALSE(TrayIconPresent(App.MainWindow));
    EXPECT_EQ(nullptr, ImageListObject.List);
    for (const UniqueHicon& icon : App.ListIcons)
        EXPECT_FALSE(icon);
    EXPECT_TRUE(IsWindow(App.MainWindow)) << "teardown leaves the windows to the process end";

    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}");
    EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError())
        << "the instance mutex is closed";
    CloseHandle(mutex);
    EXPECT_TRUE(App.BaseKey && App.SettingsKey) << "the keys stay open until the process exits";
}
