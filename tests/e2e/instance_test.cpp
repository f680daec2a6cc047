// The running program as a black box: the tray icon and the window, a first start's list, the
// Exit question, the About shortcuts, a second start, and the layout at every scale.
#include "e2e_fixture.h"
#include "app/mainwindow.h"
#include "resources/resource.h"
#include <algorithm>
#include <map>

namespace e2e {
namespace {

using InstanceTest = TesselTest;

bool PrivilegeEnabled(HANDLE process, const wchar_t* name) {
    HANDLE token = nullptr;
    PRIVILEGE_SET check = {1, PRIVILEGE_SET_ALL_NECESSARY, {}};
    BOOL enabled = FALSE;
    if (OpenProcessToken(process, TOKEN_QUERY, &token) &&
        LookupPrivilegeValueW(nullptr, name, &check.Privilege[0].Luid))
        PrivilegeCheck(token, &check, &enabled);
    CloseHandle(token);
    return enabled;
}

// What a restart of the shell does to every icon: the shell forgets it.
void DropTrayIcon(HWND window) {
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    Shell_NotifyIconW(NIM_DELETE, &icon);
}

// The tray icon is there exactly while the window is hidden; Alt with "?" or "/" in the list opens
// About; a second start ends at once and shows the first, changing nothing, calling no disk
// service; Exit asks: No keeps Tessel running, Yes ends it.
TEST_F(InstanceTest, TrayIconWindowSecondStartAndExit) {
    const std::wstring a = MakeImage(L"a-marked.vhd", imagegen::Kind::VhdFixed),
                       b = PathOf(L"b-unmarked.vhd");
    SetFlag(a, StartupFlagOn);
    SetFlag(b, StartupFlagOff);
    const UINT shellRestarted = RegisterWindowMessageW(L"TaskbarCreated");
    const std::wstring question = BoxText(QuestionCaption, ExitQuestion, {IDYES, IDNO});
    const std::vector<Msg> steps = {
        {WM_APP_TRAY, Sent | LParam, 0, WM_LBUTTONDOWN},
        {WM_APP_TRAY, Sent | LParam, 0, WM_LBUTTONUP},
        {WM_APP_TRAY, Sent | LParam, 0, WM_RBUTTONUP},
        {WM_APP_TRAY, Sent | LParam, 0, WM_CONTEXTMENU},
        {WM_APP_TRAY, Sent | LParam, 0, WM_RBUTTONDBLCLK},
        {shellRestarted, Sent}, // the icon comes back at once: nothing to see
        {WM_APP_TRAY, Sent | LParam, 0, WM_LBUTTONDBLCLK},
        {WindowShown, Seen},
        {TrayIconRemoved, Seen},
        {WM_LBUTTONDOWN, Posted, 0, 0, L"into the list"},
        {WM_KEYDOWN, Posted, 0, 0, L"Alt+?"},
        {BoxShown, Seen | LParam, 0, 1},
        {WM_COMMAND, Posted | WParam, IDOK},
        {BoxClosed, Seen},
        {WM_KEYDOWN, Posted, 0, 0, L"Alt+/"},
        {BoxShown, Seen | LParam, 0, 1},
        {WM_COMMAND, Posted | WParam, IDOK},
        {BoxClosed, Seen},
        {WM_APP_TRAY, Sent | LParam, 0, WM_LBUTTONDBLCLK},
        {shellRestarted, Sent}, // a shown window gets no icon
        {WM_CLOSE, Sent},
        {WindowHidden, Seen},
        {TrayIconAdded, Seen},
        {0, Posted, 0, 0, L"second start"},
        {WindowShown, Seen},
        {TrayIconRemoved, Seen},
        {WM_SYSCOMMAND, Sent | WParam, SC_MINIMIZE},
        {WindowHidden, Seen},
        {TrayIconAdded, Seen},
        {WM_COMMAND, Posted | WParam, IDM_EXIT},
        {BoxShown, Seen | LParam, 0, 1, question},
        {WM_COMMAND, Posted | WParam, IDNO},
        {BoxClosed, Seen},
        {WM_COMMAND, Posted | WParam, IDM_EXIT},
        {BoxShown, Seen | LParam, 0, 1, question},
        {WM_COMMAND, Posted | WParam, IDYES},
        {BoxClosed, Seen},
        {TrayIconRemoved, Seen | Optional}, // seen only when the ending is caught half way
        {ProcessEnded, Seen | WParam, 1},
    };
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    auto secondStart = [&] {
        size_t calls = standin::ReadJournal().size();
        probe::Target second;
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(second.Launch(probe::TesselExe()) && second.WaitExit(ExitTimeoutMs, &code));
        EXPECT_EQ(0u, code);
        EXPECT_TRUE(ListIs(tessel, {{a, StatusMounted, true, false, true}, {b, StatusUnmounted}}));
        EXPECT_EQ(calls, standin::ReadJournal().size()) << Describe(standin::ReadJournal());
    };
    Observer user(&tessel);
    for (const Msg& step : steps) {
        if (step.Message == shellRestarted)
            DropTrayIcon(tessel.Window());
        if (step.Flags & Sent)
            user.Do(step, false, [&] {
                SendMessageTimeoutW(tessel.Window(), step.Message, step.WParam, step.LParam,
                                    SMTO_ABORTIFHUNG, ExitTimeoutMs, nullptr);
            });
        else if (step.Message == WM_COMMAND && step.WParam == IDM_EXIT)
            user.Do(step, true, [&] { tessel.Post(WM_COMMAND, IDM_EXIT, 0); });
        else if (step.Message == WM_COMMAND)
            user.Do(step, true, [&] { probe::PressButton(NextBox(tessel), int(step.WParam)); });
        else if (step.Message == WM_LBUTTONDOWN)
            user.Do(step, false, [&] { tessel.Click(tessel.List(), {100, 100}); });
        else if (step.Text == L"Alt+?")
            user.Do(step, true, [&] { tessel.PressKeys({VK_MENU, VK_SHIFT, VK_OEM_2}); });
        else if (step.Text == L"Alt+/")
            user.Do(step, true, [&] { tessel.PressKeys({VK_MENU, VK_OEM_2}); });
        else if (step.Text == L"second start")
            user.Do(step, true, secondStart);
    }
    user.WaitEnd();
    EXPECT_TRUE(user.Sequence().Matches(steps, "tray"));
    for (const Msg& seen : user.Sequence().Messages())
        if (seen.Message == BoxShown && seen.Text != question) {
            EXPECT_EQ(0u, seen.Text.rfind(L"About Tessel | ", 0)) << Narrow(seen.Text);
        }
}

// A first start as a user meets it: an empty user key made, the privileges enabled; the list
// with its columns, check boxes and full-row selection, a target for dropped files.
TEST_F(InstanceTest, FirstStartShowsAnEmptyList) {
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    EXPECT_TRUE(ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()).empty());
    EXPECT_EQ(0, tessel.RowCount());
    for (const wchar_t* privilege : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_MANAGE_VOLUME_NAME})
        EXPECT_TRUE(PrivilegeEnabled(tessel.Process(), privilege)) << Narrow(privilege);
    EXPECT_EQ((std::vector<std::wstring>{PathColumnTitle, StatusColumnTitle, StartupColumnTitle}),
              tessel.ColumnTitles());
    EXPECT_EQ(LRESULT(DiskListExStyle),
              SendMessageW(tessel.List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_TRUE(GetWindowLongW(tessel.List(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_TRUE(Quit(&tessel));
}

// The display scale of the programs started from now on (the prefix's LogPixels).
void SetScreenDpi(DWORD dpi) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_CONFIG, L"Software\\Fonts", L"LogPixels",
                                             REG_DWORD, &dpi, sizeof dpi));
}

// At 144, 192 and 96 DPI each column fits its widest text beside an image of the small icon size,
// the path column takes the rest but never less than 220 scaled, the window keeps its minimum, and
// a change of scale lays the window out as a start at that scale does.
TEST_F(InstanceTest, ColumnsFitTheirTextsAndImagesTheScaleAtEveryDpi) {
    std::vector<std::wstring> texts(std::begin(StatusColumnTexts), std::end(StatusColumnTexts));
    texts.insert(texts.end(), std::begin(StartupColumnTexts), std::end(StartupColumnTexts));
    const auto startupTexts = std::ptrdiff_t(std::size(StatusColumnTexts));
    std::map<UINT, std::vector<int>> started; // the status and startup widths, the image size
    auto layout = [&](probe::Target& tessel, UINT dpi) {
        int image = 0;
        std::vector<int> widths, columns = tessel.ColumnWidths();
        RECT client = {}, list = {};
        GetClientRect(tessel.Window(), &client);
        GetWindowRect(tessel.List(), &list);
        EXPECT_EQ(client.right, list.right - list.left) << dpi << " DPI";
        EXPECT_EQ(client.bottom, list.bottom - list.top) << dpi << " DPI";
        if (!tessel.MeasureList(texts, &image, &widths) || columns.size() != 3)
            return ADD_FAILURE() << "the list cannot be measured at " << dpi, std::vector<int>{};
        EXPECT_EQ(GetSystemMetricsForDpi(SM_CXSMICON, dpi), image) << dpi << " DPI";
        const int status = *std::max_element(widths.begin(), widths.begin() + startupTexts);
        const int startup = *std::max_element(widths.begin() + startupTexts, widths.end());
        EXPECT_GE(columns[1], status + image) << dpi << " DPI";
        EXPECT_GE(columns[2], startup + image) << dpi << " DPI";
        const int rest = int(client.right) - columns[1] - columns[2];
        EXPECT_EQ(std::max(MulDiv(220, dpi, 96), rest), columns[0]) << dpi << " DPI";
        return std::vector<int>{columns[1], columns[2], image};
    };
    struct Back {
        ~Back() { SetScreenDpi(USER_DEFAULT_SCREEN_DPI); }
    } back;
    for (UINT dpi : {144u, 192u, 96u}) {
        SetScreenDpi(dpi);
        probe::Target tessel;
        ASSERT_TRUE(Start(&tessel));
        ASSERT_TRUE(tessel.PostTrayDoubleClick());
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.WindowVisible(); }));
        started[dpi] = layout(tessel, dpi);
        RECT window = {};
        SetWindowPos(tessel.Window(), nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(tessel.Window(), &window);
        EXPECT_EQ(MulDiv(MinTrackWidth, dpi, 96), window.right - window.left) << dpi << " DPI";
        EXPECT_EQ(MulDiv(MinTrackHeight, dpi, 96), window.bottom - window.top) << dpi << " DPI";
        layout(tessel, dpi);
        for (UINT next : {144u, 192u}) {
            const RECT suggested = {20, 10, 20 + MulDiv(500, next, 96), 10 + MulDiv(300, next, 96)};
            if (dpi != 96)
                break;
            EXPECT_TRUE(tessel.ChangeDpi(next, suggested));
            GetWindowRect(tessel.Window(), &window);
            EXPECT_TRUE(EqualRect(&suggested, &window)) << next << " DPI";
            EXPECT_EQ(started[next], layout(tessel, next)) << "a change from 96 to " << next;
        }
        EXPECT_TRUE(Quit(&tessel));
    }
}

} // namespace
} // namespace e2e
