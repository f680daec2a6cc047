// The running program as a black box: settings keys on a first start, the single
// instance, the tray icon, and how it ends.
#include "e2e_fixture.h"
#include "registry_fixtures.h"

namespace e2e {
namespace {

using InstanceTest = TesselTest;

bool NoTesselProcess(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true;
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

TEST_F(InstanceTest, FirstStartCreatesBaseKeyAndUserSubkey) {
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, BaseKeyPath));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, BaseKeyPath));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserSettingsPath()))
        << probe::Narrow(UserSettingsPath());
    // A fresh user key holds nothing until the user adds an image.
    EXPECT_TRUE(ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()).empty())
        << probe::Narrow(Describe(ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath())));
    EXPECT_EQ(0, tessel.RowCount());
    EXPECT_TRUE(Quit(&tessel));
}

TEST_F(InstanceTest, QuitRequestEndsWithCodeOneAndTakesTheTrayIcon) {
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_FALSE(tessel.WindowVisible()) << "the window starts hidden";
    EXPECT_TRUE(tessel.TrayIconPresent()) << "a hidden Tessel is reachable only through its icon";
    DWORD pid = tessel.Pid();
    ASSERT_TRUE(Quit(&tessel));
    // Wine also forgets the icons of a dead window, so this holds once the process is gone.
    EXPECT_FALSE(tessel.TrayIconPresent());
    EXPECT_TRUE(NoTesselProcess(pid));
    EXPECT_EQ(0, probe::KillStrayTessels()) << "a tessel.exe was left running";
}

TEST_F(InstanceTest, SecondStartEndsAtOnceAndShowsTheFirst) {
    std::wstring marked = MakeImage(L"a-marked.vhd", imagegen::Kind::VhdFixed);
    SetFlag(marked, L"+");
    SetFlag(PathOf(L"b-unmarked.vhd"), L"-");
    probe::Target first;
    ASSERT_TRUE(Start(&first));
    ASSERT_FALSE(first.WindowVisible());
    ASSERT_TRUE(first.TrayIconPresent());
    std::vector<probe::Row> rowsBefore = first.Rows();
    ASSERT_EQ(2u, rowsBefore.size()) << probe::Narrow(probe::Describe(rowsBefore));
    std::vector<RegistryValue> registryBefore = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath());
    std::vector<RegistryValue> baseBefore = ReadValues(HKEY_LOCAL_MACHINE, BaseKeyPath);
    size_t journalBefore = standin::ReadJournal().size();

    EXPECT_TRUE(StartExpectingExit(0));

    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(probe::WaitFor(5000, [&] { return first.WindowVisible(); }))
        << "the second start should show the running instance's window";
    EXPECT_TRUE(probe::WaitFor(2000, [&] { return !first.TrayIconPresent(); }))
        << "a shown window has no tray icon";
    EXPECT_TRUE(SameRows(rowsBefore, first.Rows()));
    std::vector<RegistryValue> registryAfter = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath());
    EXPECT_EQ(registryBefore, registryAfter)
        << "before:\n"
        << probe::Narrow(Describe(registryBefore)) << "after:\n"
        << probe::Narrow(Describe(registryAfter));
    EXPECT_EQ(baseBefore, ReadValues(HKEY_LOCAL_MACHINE, BaseKeyPath));
    std::vector<standin::JournalEntry> journal = standin::ReadJournal();
    EXPECT_EQ(journalBefore, journal.size()) << "the second start touched the disk service:\n"
                                             << probe::Narrow(Describe(journal));
    EXPECT_TRUE(Quit(&first));
}

// The notification area's messages and the window's own, in order, with the state
// each leaves: the icon is there exactly while the window is hidden.
struct TrayStep {
    const char* What;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
    bool Visible;
    bool Icon;
};

const TrayStep TraySteps[] = {
    {"left button down", probe::TrayCallback, 0, WM_LBUTTONDOWN, false, true},
    {"left button up", probe::TrayCallback, 0, WM_LBUTTONUP, false, true},
    {"right button up", probe::TrayCallback, 0, WM_RBUTTONUP, false, true},
    {"context menu", probe::TrayCallback, 0, WM_CONTEXTMENU, false, true},
    {"right double-click", probe::TrayCallback, 0, WM_RBUTTONDBLCLK, false, true},
    {"left double-click", probe::TrayCallback, 0, WM_LBUTTONDBLCLK, true, false},
    {"second double-click", probe::TrayCallback, 0, WM_LBUTTONDBLCLK, true, false},
    {"close", WM_CLOSE, 0, 0, false, true},
    {"double-click after close", probe::TrayCallback, 0, WM_LBUTTONDBLCLK, true, false},
    {"minimise", WM_SYSCOMMAND, SC_MINIMIZE, 0, false, true},
    {"double-click after minimise", probe::TrayCallback, 0, WM_LBUTTONDBLCLK, true, false},
};

TEST_F(InstanceTest, TrayIconIsThereExactlyWhileTheWindowIsHidden) {
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    std::string expected, actual;
    for (const TrayStep& step : TraySteps) {
        // Sent, not posted: the answer comes after the handler has run.
        SendMessageTimeoutW(tessel.Window(), step.Message, step.WParam, step.LParam,
                            SMTO_ABORTIFHUNG, 5000, nullptr);
        auto line = [&](bool visible, bool icon) {
            return std::string(step.What) + ": " + (visible ? "shown" : "hidden") + ", " +
                   (icon ? "icon" : "no icon") + "\n";
        };
        expected += line(step.Visible, step.Icon);
        actual += line(tessel.WindowVisible(), tessel.TrayIconPresent());
    }
    EXPECT_EQ(expected, actual);
    EXPECT_TRUE(Quit(&tessel));
}

// The menu's Exit, answered from outside as a user would: No keeps Tessel running, Yes ends it.
TEST_F(InstanceTest, ExitCommandAsksWithNoAsDefault) {
    constexpr WPARAM ExitCommand = 105;
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    std::string shown;
    for (int answer : {IDNO, IDYES}) {
        ASSERT_TRUE(tessel.Post(WM_COMMAND, ExitCommand, 0));
        probe::Box box;
        ASSERT_TRUE(tessel.WaitBox(5000, &box)) << "no question after Exit";
        shown += probe::Narrow(box.Caption + L" | " + box.Text + L" |");
        for (const probe::BoxButton& button : box.Buttons)
            shown += " " + std::to_string(button.Id) + (button.Default ? "(default)" : "");
        shown += "\n";
        ASSERT_TRUE(probe::PressButton(box, answer));
        if (answer == IDNO) {
            EXPECT_TRUE(probe::WaitFor(5000, [&] { return tessel.Boxes().empty(); }));
            EXPECT_TRUE(tessel.Running()) << "No must leave Tessel running";
        }
    }
    std::string question =
        "Question | Are you sure want to exit ?\r\nNote, all mounted disk's will be unmounted. "
        "| 6 7(default)\n";
    EXPECT_EQ(question + question, shown);
    DWORD code = 0;
    ASSERT_TRUE(tessel.WaitExit(ExitTimeoutMs, &code)) << "Yes must end Tessel";
    EXPECT_EQ(1u, code);
}

} // namespace
} // namespace e2e
