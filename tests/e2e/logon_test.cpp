// The main job as a logon runs it: the user's list read from the registry, every marked
// image attached once, and the outcome of each visible in the live window.
#include "e2e_fixture.h"

namespace e2e {
namespace {

// The demo set: Wine enumerates values by name, so the letters fix the row order.
struct DemoSet {
    std::wstring Vhd, Vhdx, Iso, Unmarked, Missing;
};

class LogonTest : public TesselTest {
  protected:
    DemoSet MakeDemoSet() {
        DemoSet set;
        set.Vhd = MakeImage(L"a-fixed.vhd", imagegen::Kind::VhdFixed);
        set.Vhdx = MakeImage(L"b-dynamic.vhdx", imagegen::Kind::VhdxDynamic);
        set.Iso = MakeImage(L"c-disc.iso", imagegen::Kind::Iso9660);
        set.Unmarked = MakeImage(L"d-unmarked.vhd", imagegen::Kind::VhdDynamic);
        set.Missing = PathOf(L"e-missing.vhd");
        SetFlag(set.Vhd, L"+");
        SetFlag(set.Vhdx, L"+");
        SetFlag(set.Iso, L"+");
        SetFlag(set.Unmarked, L"-");
        SetFlag(set.Missing, L"+");
        DWORD number = 1;
        SetValue(PathOf(L"f-number.vhd"), REG_DWORD,
                 std::vector<BYTE>(reinterpret_cast<BYTE*>(&number),
                                   reinterpret_cast<BYTE*>(&number + 1)));
        SetValue(L"CheckForUpdate", REG_DWORD, std::vector<BYTE>(4, 0));
        return set;
    }
};

std::vector<standin::Attachment> AttachedBy(DWORD pid) {
    std::vector<standin::Attachment> mine;
    for (const standin::Attachment& a : standin::ListAttached())
        if (a.ProcessId == pid)
            mine.push_back(a);
    return mine;
}

int CountAttached(const std::vector<standin::Attachment>& attached, const std::wstring& path,
                  bool* readOnly) {
    int count = 0;
    for (const standin::Attachment& a : attached)
        if (lstrcmpiW(a.Path.c_str(), path.c_str()) == 0) {
            ++count;
            *readOnly = a.ReadOnly;
        }
    return count;
}

int CountJournal(const std::wstring& path, const wchar_t* op, DWORD code) {
    int count = 0;
    for (const standin::JournalEntry& e : JournalFor(path))
        if (e.Op == op && e.Code == code)
            ++count;
    return count;
}

// Per Windows version: VHDX and ISO exist for the service from Windows 8 on.
struct VersionCase {
    const wchar_t* Version;
    bool NewFormats;
};

class LogonVersionTest : public LogonTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(LogonVersionTest, MountsEveryMarkedImageOnce) {
    const VersionCase& param = GetParam();
    SetWindowsVersion(param.Version);
    DemoSet set = MakeDemoSet();
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));

    const wchar_t* newStatus = param.NewFormats ? StatusMounted : StatusOpenError;
    EXPECT_TRUE(
        RowsAre(tessel.Rows(), {
                                   {set.Vhd, StatusMounted, true, false, true},
                                   {set.Vhdx, newStatus, true, !param.NewFormats, param.NewFormats},
                                   {set.Iso, newStatus, true, !param.NewFormats, param.NewFormats},
                                   {set.Unmarked, StatusUnmounted, false, false, false},
                                   {set.Missing, StatusOpenError, true, true, false},
                               }));

    // What the service holds: each attachable marked image once, by this process.
    struct Expected {
        const std::wstring& Path;
        int Count;
        bool ReadOnly;
    };
    const Expected expected[] = {
        {set.Vhd, 1, false},
        {set.Vhdx, param.NewFormats ? 1 : 0, false},
        {set.Iso, param.NewFormats ? 1 : 0, true},
        {set.Unmarked, 0, false},
        {set.Missing, 0, false},
    };
    std::vector<standin::Attachment> attached = AttachedBy(tessel.Pid());
    for (const Expected& e : expected) {
        bool readOnly = false;
        EXPECT_EQ(e.Count, CountAttached(attached, e.Path, &readOnly))
            << probe::Narrow(e.Path) << "\n  attached:\n"
            << probe::Narrow(Describe(standin::ListAttached()));
        if (e.Count == 1) {
            EXPECT_EQ(e.ReadOnly, readOnly) << probe::Narrow(e.Path);
        }
        EXPECT_EQ(e.Count, CountJournal(e.Path, L"attach", 0))
            << probe::Narrow(e.Path) << "\n  journal:\n"
            << probe::Narrow(Describe(JournalFor(e.Path)));
    }
    EXPECT_TRUE(JournalFor(set.Unmarked).empty())
        << "an unmarked image is not even opened:\n"
        << probe::Narrow(Describe(JournalFor(set.Unmarked)));
    EXPECT_TRUE(Quit(&tessel));
}

INSTANTIATE_TEST_SUITE_P(Versions, LogonVersionTest,
                         ::testing::Values(VersionCase{L"win7", false}, VersionCase{L"win8", true},
                                           VersionCase{L"win10", true}),
                         [](const ::testing::TestParamInfo<VersionCase>& param) {
                             return probe::Narrow(param.param.Version);
                         });

TEST_F(LogonTest, ListSurvivesARestartInTheSameOrder) {
    MakeDemoSet();
    probe::Target first;
    ASSERT_TRUE(Start(&first));
    std::vector<probe::Row> rows = first.Rows();
    ASSERT_EQ(5u, rows.size()) << probe::Narrow(probe::Describe(rows));
    ASSERT_TRUE(Quit(&first));
    EXPECT_TRUE(AttachedBy(first.Pid()).empty())
        << "attachments end with the process:\n"
        << probe::Narrow(Describe(standin::ListAttached()));

    probe::Target second;
    ASSERT_TRUE(Start(&second));
    EXPECT_TRUE(SameRows(rows, second.Rows()));
    EXPECT_EQ(3u, AttachedBy(second.Pid()).size())
        << probe::Narrow(Describe(standin::ListAttached()));
    EXPECT_TRUE(Quit(&second));
}

TEST_F(LogonTest, SecondStartLeavesRowsAndAttachmentsAlone) {
    MakeDemoSet();
    probe::Target first;
    ASSERT_TRUE(Start(&first));
    std::vector<probe::Row> rows = first.Rows();
    std::vector<standin::Attachment> attached = standin::ListAttached();
    ASSERT_EQ(3u, attached.size()) << probe::Narrow(Describe(attached));

    EXPECT_TRUE(StartExpectingExit(0));

    EXPECT_TRUE(SameRows(rows, first.Rows()));
    std::vector<standin::Attachment> after = standin::ListAttached();
    EXPECT_EQ(Describe(attached), Describe(after));
    EXPECT_TRUE(Quit(&first));
}

TEST_F(LogonTest, QuitRequestLeavesNoProcessAndNoAttachment) {
    MakeDemoSet();
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    ASSERT_EQ(3u, AttachedBy(tessel.Pid()).size());
    ASSERT_TRUE(Quit(&tessel));
    EXPECT_EQ(0, probe::KillStrayTessels()) << "a tessel.exe was left running";
    EXPECT_TRUE(standin::ListAttached().empty())
        << probe::Narrow(Describe(standin::ListAttached()));
}

} // namespace
} // namespace e2e
