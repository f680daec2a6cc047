// The startup load against real registry data: which values become rows, which rows
// count as marked, and what a failed attach leaves behind.
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
    std::wstring text = L"+" + std::wstring(bytes / sizeof(wchar_t) - 2, L'a');
    return StringData(text);
}

TEST_F(LoadTest, OnlyCheckForUpdateGivesAnEmptyList) {
    DWORD on = 1;
    SetValue(L"CheckForUpdate", REG_DWORD, Bytes(&on, sizeof(on)));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(RowsAre(tessel.Rows(), {}));
    EXPECT_TRUE(Quit(&tessel));
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
            EXPECT_TRUE(JournalFor(PathOf(c.Name)).empty())
                << probe::Narrow(c.Name) << ":\n"
                << probe::Narrow(Describe(JournalFor(PathOf(c.Name))));
        }
    EXPECT_TRUE(Quit(&tessel));
}

TEST_F(LoadTest, FailedAttachShowsMountErrorAndClosesTheImage) {
    const DWORD injected = ERROR_ACCESS_DENIED;
    std::wstring failing = MakeImage(L"a-attach-fails.vhd", imagegen::Kind::VhdFixed);
    std::wstring next = MakeImage(L"b-next.vhd", imagegen::Kind::VhdDynamic);
    SetFlag(failing, L"+");
    SetFlag(next, L"+");
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Attach, failing, injected));

    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    EXPECT_TRUE(RowsAre(tessel.Rows(), {
                                           {failing, StatusMountError, true, true, false},
                                           {next, StatusMounted, true, false, true},
                                       }));
    // Recorded while Tessel still runs: the opened image was closed at once, not at exit.
    std::vector<standin::JournalEntry> journal = JournalFor(failing);
    std::wstring sequence;
    for (const standin::JournalEntry& e : journal)
        if (e.Op != L"info")
            sequence += e.Op + L" " + std::to_wstring(e.Code) + L"; ";
    EXPECT_EQ("open 0; attach " + std::to_string(injected) + "; close 0; ", probe::Narrow(sequence))
        << probe::Narrow(Describe(journal));
    for (const standin::Attachment& a : standin::ListAttached())
        EXPECT_NE(0, lstrcmpiW(a.Path.c_str(), failing.c_str()))
            << "still attached: " << probe::Narrow(a.Path);
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
