// A start on names of every odd shape and data of every type and size: Tessel shows what it can
// (rows for string values, marked by a first "+"), keeps every value, never hands the disk service
// a device or a name relative to where it runs, nor loads the virtdisk.dll lying beside it.
#include "disklist/pending.h"
#include "e2e_fixture.h"
#include <algorithm>

namespace e2e {
namespace {

using namespace std::string_literals;

using HostileTest = TesselTest;

struct Case {
    std::wstring Name;
    DWORD Type;
    std::vector<BYTE> Data;
    const wchar_t* Status; // null: no row
    bool Reaches;          // the service may be asked to open it
};

TEST_F(HostileTest, StartsKeepsEveryValueAndOpensNoDevice) {
    const std::vector<BYTE> on = StringData(StartupFlagOn), off = StringData(StartupFlagOff);
    // The registry's longest value name: 16,383 characters.
    std::wstring longest = PathOf(L"");
    longest += std::wstring(16383 - longest.size(), L'l');
    auto image = [&](const wchar_t* name) { return MakeImage(name, imagegen::Kind::VhdFixed); };
    std::vector<Case> cases = {
        {PathOf(L"b-minus.vhd"), REG_SZ, off, StatusUnmounted, false},
        {image(L"c-plus-more.vhd"), REG_SZ, StringData(L"+xyz"), StatusMounted, true},
        {PathOf(L"d-empty.vhd"), REG_SZ, StringData(L""), StatusUnmounted, false},
        // Read in name order: the "+" before must not carry over to a value with no data.
        {image(L"e1-plus.vhd"), REG_SZ, on, StatusMounted, true},
        {PathOf(L"e2-no-data.vhd"), REG_SZ, {}, StatusUnmounted, false},
        {PathOf(L"g-space-plus.vhd"), REG_SZ, StringData(L" +"), StatusUnmounted, false},
        // 512 bytes, the terminator included, fill the buffer; 514 are passed over.
        {image(L"h-512.vhd"), REG_SZ, StringData(L"+" + std::wstring(254, L'a')), StatusMounted, 1},
        {PathOf(L"i-514.vhd"), REG_SZ, StringData(L"+" + std::wstring(255, L'a')), nullptr, false},
        {PathOf(L"j-expand.vhd"), REG_EXPAND_SZ, on, nullptr, false},
        {PathOf(L"k-dword.vhd"), REG_DWORD, {'+', 0, 0, 0}, nullptr, false},
        // This and the share that is not there fail under Wine as a folder not there yet does:
        // they wait for their drive.
        {longest, REG_SZ, on, StatusWaitingForDrive, true},
        {PathOf(L"q\"uote.vhd"), REG_SZ, on, StatusOpenError, true},
        {image(L"s;emi;colon.vhd"), REG_SZ, on, StatusMounted, true},
        {image(L"Диск-磁盘-ディスク.vhd"), REG_SZ, on, StatusMounted, true},
        // The system drops trailing blanks from a file name: the image without them mounts.
        {image(L"trailing.vhd") + L"  ", REG_SZ, on, StatusMounted, true},
        {L"\\\\?\\" + image(L"long-form.vhd"), REG_SZ, on, StatusMounted, true},
        {L"\\\\no-such-server\\share\\unc.vhd", REG_SZ, on, StatusWaitingForDrive, true},
        {L"\\\\.\\PhysicalDrive2", REG_SZ, off, StatusUnmounted, false},
        {PathOf(L"odd-size.vhd"), REG_SZ, {'-', 0, 'x'}, StatusUnmounted, false},
        {PathOf(L"huge-string.vhd"), REG_SZ, std::vector<BYTE>(1 << 16, '+'), nullptr, false},
        {PathOf(L"none.vhd"), REG_NONE, on, nullptr, false},
        {PathOf(L"binary.vhd"), REG_BINARY, std::vector<BYTE>(1 << 20, '+'), nullptr, false},
        {PathOf(L"multi.vhd"), REG_MULTI_SZ, {'+', 0, 0, 0, 0, 0}, nullptr, false},
        {PathOf(L"qword.vhd"), REG_QWORD, std::vector<BYTE>(8, '+'), nullptr, false},
        {PathOf(L"big-endian.vhd"), REG_DWORD_BIG_ENDIAN, {'+', '+', '+', '+'}, nullptr, false},
        {PathOf(L"unknown-type.vhd"), 0x7FFFFFFF, on, nullptr, false},
    };
    // Devices, reserved names and names relative to where Tessel runs: shown, never opened.
    for (const std::wstring& name :
         {L"\\\\.\\PhysicalDrive0"s, L"//./PhysicalDrive1"s, L"\\\\.\\C:"s,
          L"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition0"s, PathOf(L"COM1.vhd"),
          PathOf(L"nul .iso"), L"relative.vhd"s, L"..\\up.vhd"s, L"C:drive-relative.vhd"s,
          L"\\rooted.vhd"s, L""s}) // the last: the key's default value
        cases.push_back({name, REG_SZ, on, StatusOpenError, false});
    std::vector<ExpectedRow> expected;
    std::vector<std::wstring> reaching;
    for (const Case& c : cases) {
        SetValue(c.Name, c.Type, c.Data);
        if (c.Reaches)
            reaching.push_back(c.Name);
        if (c.Status)
            expected.push_back({c.Name, c.Status, c.Status != StatusUnmounted,
                                c.Status == StatusOpenError, c.Status == StatusMounted});
    }
    // Kept as they were, but a marked row's: the load checks its box, which stores "+".
    std::vector<RegistryValue> kept = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath());
    for (RegistryValue& value : kept)
        if (std::ranges::any_of(expected,
                                [&](auto& row) { return row.Path == value.Name && row.Marked; }))
            value.Data = on;
    // Beside a virtdisk.dll answering every call with a code no row may show.
    const std::wstring exe = PathOf(L"tessel.exe");
    ASSERT_TRUE(CopyFileW(probe::TesselExe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(probe::WindowsPath(probe::GetEnv(L"VIRTDISK_TRAP")).c_str(),
                          PathOf(L"virtdisk.dll").c_str(), FALSE));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel, exe));

    std::vector<probe::Row> rows = tessel.Rows();
    std::ranges::sort(rows, {}, &probe::Row::Path);
    std::ranges::sort(expected, {}, &ExpectedRow::Path);
    EXPECT_TRUE(RowsAre(rows, expected));
    EXPECT_TRUE(RowsMatchAttachments(rows, tessel.Pid()));
    EXPECT_EQ(kept, ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    std::string strangers;
    for (const standin::JournalEntry& e : standin::ReadJournal())
        if (std::none_of(reaching.begin(), reaching.end(),
                         [&](auto& name) { return lstrcmpiW(name.c_str(), e.Path.c_str()) == 0; }))
            strangers += " [" + Narrow(e.Path) + "]";
    EXPECT_EQ("", strangers) << "names the service was given";
    EXPECT_TRUE(tessel.Answers(ExitTimeoutMs));
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
