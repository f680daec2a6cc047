// What no user sees from outside: the information record filled afresh, the error box's icon,
// and the box that names an unknown code; and the open's code kept for its box.
#include "app/globals.h"
#include "helpers.h"
#include "imagegen.h"
#include "msgbox_hook.h"
#include "vdisk/diskimage.h"
#include <gtest/gtest.h>

namespace {

constexpr DWORD Untouched = 0xDEADBEEF, Planted = 0xE0F0BEEF;

TEST(DiskImage, OpenKeepsTheServiceCodeAndTheInformationQueryFillsTheRecordAfresh) {
    TempFolder folder;
    UseStandinFolder(folder);
    const std::wstring path = folder.PathOf(L"image.vhd");
    ASSERT_EQ(0u, imagegen::CreateImage(path, imagegen::Kind::VhdDynamic));
    HANDLE image = nullptr;
    // Until the fault sweep covers the open, its code for the error box is checked here.
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Open, path, Planted));
    EXPECT_EQ(0, OpenDiskImage(path.c_str(), &image));
    EXPECT_EQ(Planted, App.LastDiskError);
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
}

// The texts of known codes are read end to end; only here is the icon told.
TEST(ErrorBox, ShowsTheSystemTextOrNamesAnUnknownCodeWithTheErrorIcon) {
    for (DWORD code : {DWORD(ERROR_ACCESS_DENIED), Planted}) {
        BoxAnswerer answerer;
        ShowSystemError(code);
        ASSERT_EQ(1u, answerer.Boxes().size());
        const ShownBox& box = answerer.Boxes()[0];
        EXPECT_EQ(ErrorCaption, box.Caption);
        if (code == Planted) {
            EXPECT_EQ(L"Unknown error 3773873903 (0xE0F0BEEF).", box.Text);
        }
        EXPECT_EQ(UINT(MB_ICONERROR), box.Icon) << code;
        EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
        EXPECT_EQ(nullptr, box.Owner);
    }
}

} // namespace
