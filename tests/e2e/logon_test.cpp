// The main job as a logon runs it: every marked image attached once, each outcome in the live
// window, and what cannot be mounted yet waited for and told.
#include "e2e_fixture.h"

#include "app/traynotice.h"
#include "disklist/pending.h"

namespace e2e {
namespace {

using LogonTest = TesselTest;

// The folder of a late image appears at once, as a drive does, with or without what the system
// broadcasts when a drive comes.
void ArriveLate(const std::wstring& staged, const std::wstring& folder, bool broadcast) {
    ASSERT_TRUE(MoveFileW(staged.c_str(), folder.c_str()));
    if (broadcast) {
        ASSERT_TRUE(probe::BroadcastVolumeArrival(1u << (towupper(folder[0]) - L'A')));
    }
}

// What the row of a marked image shows once it has mounted.
bool MountedRow(const probe::Target& tessel, int row) {
    std::vector<probe::Row> rows;
    return tessel.ReadRows(&rows) && int(rows.size()) > row && rows[row].Status == StatusMounted &&
           rows[row].Handle;
}

// The Windows version Wine reports.
class LogonVersionTest : public LogonTest, public ::testing::WithParamInterface<const wchar_t*> {};

// Every marked image attached once, an ISO read-only, VHDX and ISO from Windows 8 on; a failed
// attach shows in its row, does not end the load and is not tried again; an image whose drive is
// not there yet waits for it.
TEST_P(LogonVersionTest, MountsEveryMarkedImageOnce) {
    const bool newFormats = lstrcmpW(GetParam(), L"win7") != 0;
    SetWindowsVersion(GetParam());
    // Wine enumerates values by name: the letters fix the row order.
    std::wstring failing = MakeImage(L"0-attach-fails.vhd", imagegen::Kind::VhdFixed),
                 vhd = MakeImage(L"a-fixed.vhd", imagegen::Kind::VhdFixed),
                 vhdx = MakeImage(L"b-dynamic.vhdx", imagegen::Kind::VhdxDynamic),
                 iso = MakeImage(L"c-disc.iso", imagegen::Kind::Iso9660),
                 missing = PathOf(L"e-late\\e.vhd");
    ASSERT_TRUE(CreateDirectoryW(PathOf(L"e-staged").c_str(), nullptr));
    MakeImage(L"e-staged\\e.vhd", imagegen::Kind::VhdFixed);
    for (const std::wstring& marked : {failing, vhd, vhdx, iso, missing})
        SetFlag(marked, StartupFlagOn);
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Attach, failing, 0xE0F0BEEF));
    probe::Target tessel;
    const ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(Start(&tessel));

    const wchar_t* newStatus = newFormats ? StatusMounted : StatusOpenError;
    EXPECT_TRUE(RowsAre(tessel.Rows(), {{failing, StatusMountError, true, true, false},
                                        {vhd, StatusMounted, true, false, true},
                                        {vhdx, newStatus, true, !newFormats, newFormats},
                                        {iso, newStatus, true, !newFormats, newFormats},
                                        {missing, StatusWaitingForDrive, true, false, false}}));
    // Its drive comes before the first timed look: the arrival alone mounts it, and nothing
    // else is tried again.
    ArriveLate(PathOf(L"e-staged"), PathOf(L"e-late"), true);
    EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return MountedRow(tessel, 4); }));
    EXPECT_GT(RetryDelayMs(FailureKind::WaitingForDrive, 1, 0), GetTickCount64() - started);
    EXPECT_EQ(1u, JournalFor(failing, L"open").size()) << Describe(JournalFor(failing));
    EXPECT_TRUE(RowsMatchAttachments(tessel.Rows(), tessel.Pid()));
    for (const standin::Attachment& a : standin::ListAttached())
        EXPECT_EQ(a.Path == iso, a.ReadOnly) << Narrow(a.Path);
    for (const std::wstring& path : {vhd, vhdx, iso})
        EXPECT_EQ(newFormats || path == vhd ? 1u : 0u, JournalFor(path, L"attach").size())
            << Narrow(path) << "\n"
            << Describe(JournalFor(path));
    EXPECT_TRUE(Quit(&tessel));
}

INSTANTIATE_TEST_SUITE_P(Versions, LogonVersionTest,
                         ::testing::Values(L"win7", L"win8", L"win81", L"win10"),
                         [](const auto& param) { return Narrow(param.param); });

// The user is in charge: a waiting row unmounted, and one unmarked, are not opened when their
// drive comes; a third, left alone, is mounted then, by the timed look alone: no message
// announces the drive. The list lives in the base key, as when the user's key cannot be had.
TEST_F(LogonTest, UnmountingOrUnmarkingAWaitingRowEndsTheWait) {
    ASSERT_TRUE(CreateDirectoryW(PathOf(L"staged").c_str(), nullptr));
    std::vector<std::wstring> paths;
    const std::vector<BYTE> on = StringData(StartupFlagOn);
    for (const wchar_t* name : {L"a.vhd", L"b.vhd", L"c.vhd"}) {
        MakeImage(std::wstring(L"staged\\") + name, imagegen::Kind::VhdFixed);
        paths.push_back(PathOf(std::wstring(L"late\\") + name));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, BaseKeyPath, paths.back().c_str(), REG_SZ,
                                  on.data(), DWORD(on.size())));
    }
    ASSERT_TRUE(BreakKey(UserSettingsPath()));
    probe::Target tessel;
    bool started = Start(&tessel);
    MendKey(UserSettingsPath());
    ASSERT_TRUE(started);
    ASSERT_TRUE(tessel.PostTrayDoubleClick());
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.WindowVisible(); }));
    std::vector<probe::AgentMenuItem> items;
    ASSERT_TRUE(tessel.Click(tessel.List(), tessel.RowPoint(0), true));
    ASSERT_TRUE(tessel.WaitMenu(ExitTimeoutMs, &items));
    ASSERT_TRUE(tessel.ChooseMenuItem(IDM_UNMOUNT));
    ASSERT_TRUE(tessel.Click(tessel.List(), tessel.CheckBoxPoint(1)));
    std::vector<ExpectedRow> ended = {{paths[0], StatusUnmounted, true, false, false},
                                      {paths[1], StatusUnmounted, false, false, false},
                                      {paths[2], StatusWaitingForDrive, true, false, false}};
    EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return RowsAre(tessel.Rows(), ended); }))
        << RowsAre(tessel.Rows(), ended).message();
    ArriveLate(PathOf(L"staged"), PathOf(L"late"), false);
    EXPECT_TRUE(probe::WaitFor(RetryDelayMs(FailureKind::WaitingForDrive, 1, 0) + ExitTimeoutMs,
                               [&] { return MountedRow(tessel, 2); }));
    for (int row : {0, 1})
        EXPECT_TRUE(JournalFor(paths[row], L"open").empty()) << Describe(JournalFor(paths[row]));
    EXPECT_TRUE(Quit(&tessel));
}

// Hidden, Tessel tells the shell what the logon left unmounted: the tooltip, and one warning
// balloon after the waiting's minute naming each image (a long path shortened) and why; a click on
// it opens the list. A file held for two tries mounts on the third, each a resume's at once, and
// leaves no handle behind.
TEST_F(LogonTest, TheNotificationAreaTellsWhatIsNotMounted) {
    probe::TrayWatch shell;
    ASSERT_TRUE(shell.Watching());
    std::wstring mounted = MakeImage(L"a.vhd", imagegen::Kind::VhdFixed),
                 waiting = PathOf(L"b-" + std::wstring(80, L'x') + L"\\b.vhd"),
                 refused = MakeImage(L"c.vhd", imagegen::Kind::VhdFixed),
                 busy = MakeImage(L"d-busy.vhd", imagegen::Kind::VhdFixed);
    for (const std::wstring& path : {mounted, waiting, refused, busy})
        SetFlag(path, StartupFlagOn);
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Open, refused, ERROR_PRIVILEGE_NOT_HELD));
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Open, busy, ERROR_SHARING_VIOLATION, 2));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    std::vector<probe::Row> rows = tessel.Rows();
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ(StatusInUseRetrying, rows[3].Status);
    const int handles = tessel.HandleCount();
    ASSERT_TRUE(tessel.Post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0));
    ASSERT_TRUE(
        probe::WaitFor(ExitTimeoutMs, [&] { return JournalFor(busy, L"open").size() > 1; }));
    EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.HandleCount() == handles; }))
        << handles << " handles before, " << tessel.HandleCount() << " after";
    ASSERT_TRUE(tessel.Post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0));
    EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return MountedRow(tessel, 3); }));
    EXPECT_EQ(3u, JournalFor(busy, L"open").size()) << Describe(JournalFor(busy));
    wchar_t tip[128], title[64];
    wsprintfW(tip + wsprintfW(tip, TipSummaryFormat, 2, 4), TipWaitingFormat, 1);
    wsprintfW(title, NotMountedTitleFormat, 2u);
    std::vector<probe::TrayCall> warnings;
    std::wstring lastTip;
    EXPECT_TRUE(probe::WaitFor(LogonSettleMs + ExitTimeoutMs, [&] {
        warnings.clear();
        for (const probe::TrayCall& call : shell.Calls(tessel.Window())) {
            if (call.Flags & NIF_INFO && call.InfoFlags & NIIF_WARNING)
                warnings.push_back(call);
            if (call.Flags & NIF_TIP)
                lastTip = call.Tip;
        }
        return !warnings.empty();
    }));
    EXPECT_EQ(tip, lastTip);
    ASSERT_EQ(1u, warnings.size());
    const std::wstring& text = warnings[0].Info;
    EXPECT_EQ(title, warnings[0].InfoTitle);
    const std::wstring rest = L"x\\b.vhd" + std::wstring(NoticeReasonBreak) + ReasonDriveMissing +
                              L"\n" + refused + NoticeReasonBreak + ReasonNeedsAdmin + L"\n" +
                              NoticeClickText;
    EXPECT_TRUE(text.starts_with(waiting.substr(0, 10)) && text.ends_with(rest) &&
                text.find(L'\x2026') < NoticePathChars && text.size() < 256)
        << Narrow(text);
    ASSERT_TRUE(tessel.Post(probe::TrayCallback, 0, NIN_BALLOONUSERCLICK));
    EXPECT_TRUE(probe::WaitFor(
        ExitTimeoutMs, [&] { return tessel.WindowVisible() && !tessel.TrayIconPresent(); }));
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
