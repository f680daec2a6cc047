// The startup load against real registry data: which values become rows and which count as
// marked, what a failed attach leaves behind, where the list lives when the user's key cannot
// be had, and which disk service is used.
#include "e2e_fixture.h"

namespace e2e {
namespace {

using LoadTest = TesselTest;

std::vector<BYTE> Bytes(const void* data, size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

// A string of this many bytes, terminator included, that begins with "+".
std::vector<BYTE> MarkedDataOfBytes(size_t bytes) {
    return StringData(L"+" + std::wstring(bytes / sizeof(wchar_t) - 2, L'a'));
}

// One value each; the file exists only where a row would open it.
struct ValueCase {
    const wchar_t* Name;
    DWORD Type;
    std::vector<BYTE> Data;
    bool Row;    // becomes a row
    bool Marked; // and is mounted at start
};

TEST_F(LoadTest, OnlyStringValuesBecomeRowsAndOnlyTheFirstCharacterCounts) {
    const DWORD plus = L'+';
    const ValueCase cases[] = {
        {L"a-plus.vhd", REG_SZ, StringData(L"+"), true, true},
        {L"b-minus.vhd", REG_SZ, StringData(L"-"), true, false},
        {L"c-plus-more.vhd", REG_SZ, StringData(L"+xyz"), true, true},
        {L"d-empty.vhd", REG_SZ, StringData(L""), true, false},
        {L"e-letter.vhd", REG_SZ, StringData(L"x"), true, false},
        {L"f-plus-before-no-data.vhd", REG_SZ, StringData(L"+"), true, true},
        // Nothing stored at all: an earlier value's "+" must not carry over.
        {L"g-no-data.vhd", REG_SZ, {}, true, false},
        {L"h-space-plus.vhd", REG_SZ, StringData(L" +"), true, false},
        {L"i-512-bytes.vhd", REG_SZ, MarkedDataOfBytes(512), true, true},
        // Too long for the 512-byte buffer: passed over, and the load goes on.
        {L"j-514-bytes.vhd", REG_SZ, MarkedDataOfBytes(514), false, false},
        {L"k-4000-bytes.vhd", REG_SZ, MarkedDataOfBytes(4000), false, false},
        {L"l-expand.vhd", REG_EXPAND_SZ, StringData(L"+"), false, false},
        {L"m-multi.vhd", REG_MULTI_SZ, StringData(std::wstring(L"+\0", 2)), false, false},
        {L"n-binary.vhd", REG_BINARY, StringData(L"+"), false, false},
        {L"o-dword.vhd", REG_DWORD, Bytes(&plus, sizeof(plus)), false, false},
        {L"p-after.vhd", REG_SZ, StringData(L"+"), true, true},
    };
    std::vector<ExpectedRow> expected;
    for (const ValueCase& c : cases) {
        std::wstring path = c.Marked ? MakeImage(c.Name, imagegen::Kind::VhdFixed) : PathOf(c.Name);
        SetValue(path, c.Type, c.Data);
        if (c.Row)
            expected.push_back(
                {path, c.Marked ? StatusMounted : StatusUnmounted, c.Marked, false, c.Marked});
    }
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(RowsAre(tessel.Rows(), expected));
    // Unmarked rows are never opened, whatever their data.
    for (const ValueCase& c : cases)
        if (!c.Marked) {
            EXPECT_TRUE(JournalFor(PathOf(c.Name)).empty()) << Narrow(c.Name);
        }
    EXPECT_TRUE(Quit(&tessel));
}

TEST_F(LoadTest, FailedAttachShowsMountErrorAndClosesTheImage) {
    std::wstring failing = MakeImage(L"a-attach-fails.vhd", imagegen::Kind::VhdFixed);
    std::wstring next = MakeImage(L"b-next.vhd", imagegen::Kind::VhdDynamic);
    SetFlag(failing, StartupFlagOn);
    SetFlag(next, StartupFlagOn);
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Attach, failing, 0xE0F0BEEF));

    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(RowsAre(tessel.Rows(), {
                                           {failing, StatusMountError, true, true, false},
                                           {next, StatusMounted, true, false, true},
                                       }));
    // Read while Tessel still runs: the opened image was closed at once, not at exit.
    EXPECT_EQ(1u, JournalFor(failing, L"close").size()) << Narrow(Describe(JournalFor(failing)));
    EXPECT_EQ(1u, standin::ListAttached().size()) << Narrow(Describe(standin::ListAttached()));
    EXPECT_TRUE(Quit(&tessel));
}

TEST_F(LoadTest, ListLivesInTheBaseKeyWhenTheUserKeyCannotBeHad) {
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
TEST_F(LoadTest, AVirtdiskDllBesideTheProgramIsNeverUsed) {
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
