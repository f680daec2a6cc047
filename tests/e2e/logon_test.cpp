// The main job as a logon runs it: the user's list read from the registry, which values
// become rows and which count as marked, every marked image attached once, and the outcome
// of each visible in the live window.
#include "e2e_fixture.h"
#include <algorithm>

namespace e2e {
namespace {

using LogonTest = TesselTest;

// "ro|rw path" for every image attached now, sorted.
std::vector<std::wstring> Attached() {
    std::vector<std::wstring> lines;
    for (const standin::Attachment& a : standin::ListAttached())
        lines.push_back((a.ReadOnly ? L"ro " : L"rw ") + a.Path);
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct VersionCase {
    const wchar_t* Version;
    bool NewFormats;
};

class LogonVersionTest : public LogonTest, public ::testing::WithParamInterface<VersionCase> {};

// Every marked image attached once, an ISO read-only, VHDX and ISO from Windows 8 on; a failed
// attach shows in its row, closes the image at once and does not end the load.
TEST_P(LogonVersionTest, MountsEveryMarkedImageOnce) {
    const bool newFormats = GetParam().NewFormats;
    SetWindowsVersion(GetParam().Version);
    // Wine enumerates values by name: the letters fix the row order.
    std::wstring failing = MakeImage(L"0-attach-fails.vhd", imagegen::Kind::VhdFixed),
                 vhd = MakeImage(L"a-fixed.vhd", imagegen::Kind::VhdFixed),
                 vhdx = MakeImage(L"b-dynamic.vhdx", imagegen::Kind::VhdxDynamic),
                 iso = MakeImage(L"c-disc.iso", imagegen::Kind::Iso9660),
                 unmarked = MakeImage(L"d-unmarked.vhd", imagegen::Kind::VhdDynamic),
                 missing = PathOf(L"e-missing.vhd");
    for (const std::wstring& marked : {failing, vhd, vhdx, iso, missing})
        SetFlag(marked, StartupFlagOn);
    SetFlag(unmarked, StartupFlagOff);
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Attach, failing, 0xE0F0BEEF));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));

    const wchar_t* newStatus = newFormats ? StatusMounted : StatusOpenError;
    EXPECT_TRUE(RowsAre(tessel.Rows(), {{failing, StatusMountError, true, true, false},
                                        {vhd, StatusMounted, true, false, true},
                                        {vhdx, newStatus, true, !newFormats, newFormats},
                                        {iso, newStatus, true, !newFormats, newFormats},
                                        {unmarked, StatusUnmounted, false, false, false},
                                        {missing, StatusOpenError, true, true, false}}));
    std::vector<std::wstring> attached = {L"rw " + vhd};
    if (newFormats)
        attached = {L"ro " + iso, L"rw " + vhd, L"rw " + vhdx};
    EXPECT_EQ(attached, Attached()) << Describe(standin::ListAttached());
    for (const std::wstring& path : {vhd, vhdx, iso})
        EXPECT_EQ(newFormats || path == vhd ? 1u : 0u, JournalFor(path, L"attach").size())
            << Narrow(path) << "\n"
            << Describe(JournalFor(path));
    EXPECT_TRUE(JournalFor(unmarked).empty()) << "an unmarked image is not even opened";
    // While Tessel still runs: the stand-in notes the close from a watcher thread.
    EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] {
        return !JournalFor(failing, L"close").empty();
    })) << Describe(JournalFor(failing));
    EXPECT_TRUE(Quit(&tessel));
}

INSTANTIATE_TEST_SUITE_P(Versions, LogonVersionTest,
                         ::testing::Values(VersionCase{L"win7", false}, VersionCase{L"win8", true},
                                           VersionCase{L"win81", true},
                                           VersionCase{L"win10", true}),
                         [](const ::testing::TestParamInfo<VersionCase>& param) {
                             return Narrow(param.param.Version);
                         });

// A string of this many bytes, terminator included, that begins with "+".
std::vector<BYTE> MarkedDataOfBytes(size_t bytes) {
    return StringData(L"+" + std::wstring(bytes / sizeof(wchar_t) - 2, L'a'));
}

TEST_F(LogonTest, OnlyStringValuesBecomeRowsAndOnlyTheFirstCharacterCounts) {
    // One value each; the file exists only where a row would open it.
    struct Case {
        const wchar_t* Name;
        DWORD Type;
        std::vector<BYTE> Data;
        bool Row;    // becomes a row
        bool Marked; // and is mounted at start
    } cases[] = {
        {L"a-plus.vhd", REG_SZ, StringData(L"+"), true, true},
        {L"b-minus.vhd", REG_SZ, StringData(L"-"), true, false},
        {L"c-plus-more.vhd", REG_SZ, StringData(L"+xyz"), true, true},
        {L"d-empty.vhd", REG_SZ, StringData(L""), true, false},
        {L"e-plus-before-no-data.vhd", REG_SZ, StringData(L"+"), true, true},
        // Nothing stored at all: an earlier value's "+" must not carry over.
        {L"f-no-data.vhd", REG_SZ, {}, true, false},
        {L"g-space-plus.vhd", REG_SZ, StringData(L" +"), true, false},
        {L"h-512-bytes.vhd", REG_SZ, MarkedDataOfBytes(512), true, true},
        // Too long for the 512-byte buffer: passed over, and the load goes on.
        {L"i-514-bytes.vhd", REG_SZ, MarkedDataOfBytes(514), false, false},
        {L"j-expand.vhd", REG_EXPAND_SZ, StringData(L"+"), false, false},
        {L"k-dword.vhd", REG_DWORD, {'+', 0, 0, 0}, false, false},
        {L"l-after.vhd", REG_SZ, StringData(L"+"), true, true},
    };
    std::vector<ExpectedRow> expected;
    for (const Case& c : cases) {
        std::wstring path = c.Marked ? MakeImage(c.Name, imagegen::Kind::VhdFixed) : PathOf(c.Name);
        SetValue(path, c.Type, c.Data);
        if (c.Row)
            expected.push_back(
                {path, c.Marked ? StatusMounted : StatusUnmounted, c.Marked, false, c.Marked});
    }
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(RowsAre(tessel.Rows(), expected));
    for (const Case& c : cases)
        if (!c.Marked) {
            EXPECT_TRUE(JournalFor(PathOf(c.Name)).empty()) << "opened: " << Narrow(c.Name);
        }
    EXPECT_TRUE(Quit(&tessel));
}

TEST_F(LogonTest, ListLivesInTheBaseKeyWhenTheUserKeyCannotBeHad) {
    std::wstring image = MakeImage(L"base.vhd", imagegen::Kind::VhdFixed);
    std::vector<BYTE> on = StringData(StartupFlagOn);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, BaseKeyPath, image.c_str(), REG_SZ,
                                             on.data(), DWORD(on.size())));
    ASSERT_TRUE(BreakKey(UserSettingsPath()));
    probe::Target tessel;
    bool started = Start(&tessel);
    MendKey(UserSettingsPath());
    ASSERT_TRUE(started);
    EXPECT_TRUE(RowsAre(tessel.Rows(), {{image, StatusMounted, true, false, true}}));
    EXPECT_TRUE(Quit(&tessel));
}

// A virtdisk.dll that answers every call with a code of its own lies beside the program.
TEST_F(LogonTest, AVirtdiskDllBesideTheProgramIsNeverUsed) {
    std::wstring exe = PathOf(L"tessel.exe");
    std::wstring trap = probe::WindowsPath(probe::GetEnv(L"VIRTDISK_TRAP"));
    ASSERT_TRUE(CopyFileW(probe::TesselExe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(trap.c_str(), PathOf(L"virtdisk.dll").c_str(), FALSE)) << Narrow(trap);
    std::wstring image = MakeImage(L"a.vhd", imagegen::Kind::VhdFixed);
    SetFlag(image, StartupFlagOn);
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel, exe));
    EXPECT_TRUE(RowsAre(tessel.Rows(), {{image, StatusMounted, true, false, true}}));
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
