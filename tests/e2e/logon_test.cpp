// The main job as a logon runs it: the user's list read from the registry, every marked
// image attached once, and the outcome of each visible in the live window.
#include "e2e_fixture.h"
#include <algorithm>

namespace e2e {
namespace {

// The demo set: Wine enumerates values by name, so the letters fix the row order.
struct DemoSet {
    std::wstring Vhd, Vhdx, Iso, Unmarked, Missing;
};

class LogonTest : public TesselTest {
  protected:
    DemoSet MakeDemoSet() {
        DemoSet set = {MakeImage(L"a-fixed.vhd", imagegen::Kind::VhdFixed),
                       MakeImage(L"b-dynamic.vhdx", imagegen::Kind::VhdxDynamic),
                       MakeImage(L"c-disc.iso", imagegen::Kind::Iso9660),
                       MakeImage(L"d-unmarked.vhd", imagegen::Kind::VhdDynamic),
                       PathOf(L"e-missing.vhd")};
        for (const std::wstring* marked : {&set.Vhd, &set.Vhdx, &set.Iso, &set.Missing})
            SetFlag(*marked, StartupFlagOn);
        SetFlag(set.Unmarked, StartupFlagOff);
        return set;
    }
};

// Attachments as "rw|ro path" lines, sorted; only those of one process.
std::vector<std::wstring> AttachedBy(DWORD pid) {
    std::vector<std::wstring> lines;
    for (const standin::Attachment& a : standin::ListAttached())
        if (a.ProcessId == pid)
            lines.push_back(std::wstring(a.ReadOnly ? L"ro " : L"rw ") + a.Path);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// VHDX and ISO exist for the service from Windows 8 on.
struct VersionCase {
    const wchar_t* Version;
    bool NewFormats;
};

class LogonVersionTest : public LogonTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(LogonVersionTest, MountsEveryMarkedImageOnce) {
    const bool newFormats = GetParam().NewFormats;
    SetWindowsVersion(GetParam().Version);
    DemoSet set = MakeDemoSet();
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));

    const wchar_t* newStatus = newFormats ? StatusMounted : StatusOpenError;
    EXPECT_TRUE(RowsAre(tessel.Rows(), {
                                           {set.Vhd, StatusMounted, true, false, true},
                                           {set.Vhdx, newStatus, true, !newFormats, newFormats},
                                           {set.Iso, newStatus, true, !newFormats, newFormats},
                                           {set.Unmarked, StatusUnmounted, false, false, false},
                                           {set.Missing, StatusOpenError, true, true, false},
                                       }));
    std::vector<std::wstring> attached = {L"rw " + set.Vhd};
    if (newFormats)
        attached = {L"ro " + set.Iso, L"rw " + set.Vhd, L"rw " + set.Vhdx};
    EXPECT_EQ(attached, AttachedBy(tessel.Pid()));
    for (const std::wstring& path : {set.Vhd, set.Vhdx, set.Iso})
        EXPECT_EQ(newFormats || path == set.Vhd ? 1u : 0u, JournalFor(path, L"attach").size())
            << Narrow(path) << "\n"
            << Narrow(Describe(JournalFor(path)));
    EXPECT_TRUE(JournalFor(set.Unmarked).empty()) << "an unmarked image is not even opened";
    EXPECT_TRUE(Quit(&tessel));
}

INSTANTIATE_TEST_SUITE_P(Versions, LogonVersionTest,
                         ::testing::Values(VersionCase{L"win7", false}, VersionCase{L"win8", true},
                                           VersionCase{L"win10", true}),
                         [](const ::testing::TestParamInfo<VersionCase>& param) {
                             return Narrow(param.param.Version);
                         });

TEST_F(LogonTest, ListAndMountsComeBackAfterARestart) {
    MakeDemoSet();
    probe::Target first;
    ASSERT_TRUE(Start(&first));
    std::vector<probe::Row> rows = first.Rows();
    ASSERT_EQ(5u, rows.size());
    ASSERT_EQ(3u, AttachedBy(first.Pid()).size());
    ASSERT_TRUE(Quit(&first));
    EXPECT_TRUE(standin::ListAttached().empty()) << "attachments end with the process:\n"
                                                 << Narrow(Describe(standin::ListAttached()));

    probe::Target second;
    ASSERT_TRUE(Start(&second));
    EXPECT_TRUE(SameRows(rows, second.Rows()));
    EXPECT_EQ(3u, AttachedBy(second.Pid()).size());
    EXPECT_TRUE(Quit(&second));
}

} // namespace
} // namespace e2e
