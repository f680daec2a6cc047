// What no user sees from outside: the information record filled afresh, which types an image is
// opened as and whose code stands, and how a failure is sorted for waiting.
#include "app/globals.h"
#include "helpers.h"
#include "imagegen.h"
#include "vdisk/diskimage.h"
#include "vdisk/failurekind.h"
#include <gtest/gtest.h>

namespace {

constexpr DWORD Untouched = 0xDEADBEEF, Planted = 0xE0F0BEEF;

TEST(DiskImage, TheInformationQueryFillsTheRecordAfreshAndTheOpenKeepsTheRightCode) {
    TempFolder folder;
    UseStandinFolder(folder);
    const std::wstring path = folder.PathOf(L"image.vhd");
    ASSERT_EQ(0u, imagegen::CreateImage(path, imagegen::Kind::VhdDynamic));
    HANDLE image = nullptr;
    ASSERT_EQ(1, OpenDiskImage(path.c_str(), &image));
    App.LastDiskError = Untouched;
    FillMemory(&App.DiskInfo, sizeof App.DiskInfo, 0xA5);
    EXPECT_EQ(1, QueryDiskInfo(image, GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE));
    EXPECT_EQ(Untouched, App.LastDiskError);
    // After the version and the subtype, an earlier answer must not show through.
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&App.DiskInfo);
    for (size_t i = offsetof(GET_VIRTUAL_DISK_INFO, ProviderSubtype) + 4; i < sizeof App.DiskInfo;
         ++i)
        EXPECT_EQ(0, bytes[i]) << "byte " << i;
    CloseHandle(image);
    // Asked once, as the type the file's signature names, the service's code stands; a file
    // without one is asked as each type (VHD 2, VHDX 3, ISO 1) and keeps the first code.
    App.WindowsEightOrLater = 1;
    using imagegen::Kind;
    const std::pair<Kind, std::wstring> cases[] = {
        {Kind::VhdFixed, L"2"},    {Kind::VhdTruncatedFooter, L"2"},
        {Kind::VhdxDynamic, L"3"}, {Kind::VhdxBadChecksum, L"3"},
        {Kind::IsoUdf, L"1"},      {Kind::Text, L"231"},
        {Kind::VhdDynamic, L"2"}};
    for (const auto& [kind, devices] : cases) {
        const std::wstring file = folder.PathOf(std::to_wstring(int(kind)));
        ASSERT_EQ(0u, imagegen::CreateImage(file, kind));
        // Each is open elsewhere for reading; the last, as a scanner holds it, shares no writing:
        // the VHD open's 32 must stand, not the ISO probe's 1392.
        bool held = kind == Kind::VhdDynamic;
        HANDLE holder = CreateFileW(file.c_str(), GENERIC_READ,
                                    held ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        int opened = OpenDiskImage(file.c_str(), &image);
        std::wstring asked;
        for (const standin::JournalEntry& open : JournalFor(file, L"open"))
            asked += open.Field(L"device");
        EXPECT_EQ(devices, asked) << int(kind);
        EXPECT_EQ(opened ? 0 : JournalFor(file, L"open")[0].Code, App.LastDiskError) << int(kind);
        EXPECT_TRUE(!held || App.LastDiskError == ERROR_SHARING_VIOLATION) << App.LastDiskError;
        if (opened)
            CloseHandle(image);
        CloseHandle(holder);
    }
    App.WindowsEightOrLater = 0;
}

TEST(FailureKind, SortsByCodeVolumeAndTries) {
    const wchar_t present[] = L"C:\\images\\a.vhd";
    wchar_t missing[] = L"Z:\\images\\a.vhd";
    while (GetLogicalDrives() & (1u << (missing[0] - L'A')))
        --missing[0];
    using enum FailureKind;
    const struct {
        std::vector<DWORD> Codes;
        bool OnMissingDrive;
        unsigned Tries;
        FailureKind Kind;
    } rows[] = {
        {{2, 3, 15, 21, 55}, false, 1, WaitingForDrive},
        {{1392, 5, 32, 87}, true, 7, WaitingForDrive},
        {{32, 33}, false, 40, Busy},
        {{5}, false, 2, Busy},
        {{5, 1392, 0xC03A0015, 618, 6002, 0xC03A001A, 1314, 87, Planted}, false, 3, Permanent},
        {{53, 64, 67, 121, 1203, 1231, 1232}, false, 1, Network},
        {{53, 67, 1232}, true, 1, Network}};
    for (const auto& row : rows)
        for (DWORD code : row.Codes)
            EXPECT_EQ(
                row.Kind,
                ClassifyDiskFailure(
                    code, ImageVolumePresent(row.OnMissingDrive ? missing : present), row.Tries))
                << code << (row.OnMissingDrive ? " on a missing drive, try " : ", try ")
                << row.Tries;
}

} // namespace
