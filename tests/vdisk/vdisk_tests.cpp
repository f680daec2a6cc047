// The disk image operations no user reaches yet, on the stand-in service with a distinctive
// code planted in a call: Tessel must keep the code the service gave and show it with the
// system's text.
#include "app/globals.h"
#include "helpers.h"
#include "imagegen.h"
#include "msgbox_hook.h"
#include "vdisk/diskimage.h"
#include <gtest/gtest.h>

namespace {

constexpr DWORD Untouched = 0xDEADBEEF, Planted = 0xE0F0BEEF;
using standin::Operation;

class DiskImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseStandinFolder(folder_);
        imagegen::Options options;
        options.virtualSize = 16 << 20;
        options.pattern = "DZ";
        ASSERT_EQ(0u, imagegen::CreateImage(path_, imagegen::Kind::VhdDynamic, options));
    }
    void TearDown() override { standin::ClearFaults(); }

    TempFolder folder_;
    std::wstring path_ = folder_.PathOf(L"image.vhd");
};

// Each call once as the service answers it and once with a planted code; detach hands its
// code back instead of storing it.
TEST_F(DiskImageTest, EveryCallKeepsTheServiceCodeForTheErrorBox) {
    const struct {
        Operation Op;
        bool Plant;
        DWORD Result, LastDiskError;
    } cases[] = {
        {Operation::Open, false, 1, 0},           {Operation::Open, true, 0, Planted},
        {Operation::Attach, false, 1, 0},         {Operation::Attach, true, 0, Planted},
        {Operation::Compact, false, 1, 0},        {Operation::Compact, true, 0, Planted},
        {Operation::Detach, false, 0, Untouched}, {Operation::Detach, true, Planted, Untouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(standin::OperationName(c.Op)) + (c.Plant ? " planted" : ""));
        // Before Windows 8 a failed VHD open is the last: its code is the one kept.
        App.WindowsEightOrLater = c.Op != Operation::Open;
        HANDLE image = nullptr;
        if (c.Op != Operation::Open) {
            ASSERT_EQ(1, OpenDiskImage(path_.c_str(), &image));
        }
        if (c.Op == Operation::Detach) {
            ASSERT_EQ(1, AttachDiskImage(image));
        }
        if (c.Plant) {
            ASSERT_TRUE(standin::InjectFault(c.Op, path_, Planted));
        }
        App.LastDiskError = Untouched;
        DWORD result = c.Op == Operation::Open      ? OpenDiskImage(path_.c_str(), &image)
                       : c.Op == Operation::Attach  ? AttachDiskImage(image)
                       : c.Op == Operation::Compact ? CompactDiskImage(image)
                                                    : DetachDiskImage(image);
        EXPECT_EQ(c.Result, result);
        EXPECT_EQ(c.LastDiskError, App.LastDiskError);
        if (image)
            CloseHandle(image);
    }
}

TEST_F(DiskImageTest, InformationQueryFillsTheWholeRecordAfresh) {
    HANDLE image = nullptr;
    ASSERT_EQ(1, OpenDiskImage(path_.c_str(), &image));
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

TEST(ErrorBox, ShowsTheSystemTextOrNamesAnUnknownCode) {
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {ERROR_ACCESS_DENIED, nullptr}, // null: the system's own text, whatever it says
        {ERROR_SHARING_VIOLATION, nullptr},
        {Planted, L"Unknown error 3773873903 (0xE0F0BEEF)."},
    };
    for (auto [code, text] : cases) {
        BoxAnswerer answerer;
        ShowSystemError(code);
        ASSERT_EQ(1u, answerer.Boxes().size());
        const ShownBox& box = answerer.Boxes()[0];
        EXPECT_EQ(ErrorCaption, box.Caption);
        if (text)
            EXPECT_EQ(text, box.Text);
        else
            EXPECT_TRUE(!box.Text.empty() && box.Text.find(L"Unknown error") == std::wstring::npos)
                << Narrow(box.Text);
        EXPECT_EQ(UINT(MB_ICONERROR), box.Icon);
        EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
        EXPECT_EQ(nullptr, box.Owner);
    }
}

} // namespace
