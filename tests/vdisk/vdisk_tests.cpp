// The disk image operations on the stand-in service, with a distinctive code planted in each
// call: Tessel must keep the code the service gave, and show it with the system's text.
#include <gtest/gtest.h>

#include "app/globals.h"
#include "helpers.h"
#include "imagegen.h"
#include "msgbox_hook.h"
#include "vdisk/diskimage.h"

namespace {

constexpr DWORD Untouched = 0xDEADBEEF;
constexpr DWORD Planted = 0xE0F0BEEF;

using standin::Operation;

class DiskImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseStandinFolder(folder_);
        imagegen::Options options;
        options.virtualSize = 16 << 20;
        options.pattern = "DZ";
        ASSERT_EQ(0u, imagegen::CreateImage(path_, imagegen::Kind::VhdDynamic, options));
        App.WindowsEightOrLater = 1;
    }
    void TearDown() override {
        if (handle_)
            CloseHandle(handle_);
        standin::ClearFaults();
    }
    bool Open() { return OpenDiskImage(path_.c_str(), &handle_) == 1; }

    TempFolder folder_;
    std::wstring path_ = folder_.PathOf(L"image.vhd");
    HANDLE handle_ = nullptr;
};

// Runs one operation on an opened image; detach hands back its code instead of storing it.
DWORD RunOperation(Operation op, HANDLE image) {
    switch (op) {
    case Operation::Attach:
        return AttachDiskImage(image);
    case Operation::Compact:
        return CompactDiskImage(image);
    default:
        return DetachDiskImage(image);
    }
}

// Each call once as the service answers it and once with a planted code.
TEST_F(DiskImageTest, EveryCallKeepsTheServiceCodeForTheErrorBox) {
    struct Case {
        Operation Op;
        bool Plant;
        DWORD Result;
        DWORD LastDiskError;
    } cases[] = {
        {Operation::Attach, false, 1, 0},         {Operation::Attach, true, 0, Planted},
        {Operation::Compact, false, 1, 0},        {Operation::Compact, true, 0, Planted},
        {Operation::Detach, false, 0, Untouched}, {Operation::Detach, true, Planted, Untouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(standin::OperationName(c.Op)) + (c.Plant ? " planted" : ""));
        ASSERT_TRUE(Open());
        if (c.Op == Operation::Detach) {
            ASSERT_EQ(1, AttachDiskImage(handle_));
        }
        if (c.Plant) {
            ASSERT_TRUE(standin::InjectFault(c.Op, path_, Planted));
        }
        App.LastDiskError = Untouched;
        EXPECT_EQ(c.Result, RunOperation(c.Op, handle_));
        EXPECT_EQ(c.LastDiskError, App.LastDiskError);
        CloseHandle(handle_);
        handle_ = nullptr;
    }
}

TEST_F(DiskImageTest, FailedOpenBeforeWindowsEightKeepsTheVhdCode) {
    App.WindowsEightOrLater = 0;
    ASSERT_TRUE(standin::InjectFault(Operation::Open, path_, Planted));
    EXPECT_EQ(0, OpenDiskImage(path_.c_str(), &handle_));
    EXPECT_EQ(Planted, App.LastDiskError);
    handle_ = nullptr;
}

TEST_F(DiskImageTest, InformationQueryFillsTheWholeRecordAfresh) {
    ASSERT_TRUE(Open());
    App.LastDiskError = Untouched;
    FillMemory(&App.DiskInfo, sizeof App.DiskInfo, 0xA5);
    ASSERT_EQ(1, QueryDiskInfo(handle_, GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE));
    EXPECT_EQ(Untouched, App.LastDiskError);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&App.DiskInfo);
    // Version, padding and the subtype; an earlier answer must not show through after them.
    for (size_t i = offsetof(GET_VIRTUAL_DISK_INFO, ProviderSubtype) + 4; i < sizeof App.DiskInfo;
         ++i)
        EXPECT_EQ(0, bytes[i]) << "byte " << i;
}

TEST_F(DiskImageTest, ErrorBoxShowsTheSystemTextOrNamesAnUnknownCode) {
    struct Case {
        DWORD Code;
        const wchar_t* Text; // null: the system's own text, whatever it says
    } cases[] = {
        {ERROR_ACCESS_DENIED, nullptr},
        {ERROR_SHARING_VIOLATION, nullptr},
        {Planted, L"Unknown error 3773873903 (0xE0F0BEEF)."},
    };
    for (const Case& c : cases) {
        BoxAnswerer answerer;
        ShowSystemError(c.Code);
        ASSERT_EQ(1u, answerer.Boxes().size());
        const ShownBox& box = answerer.Boxes()[0];
        EXPECT_EQ(ErrorCaption, box.Caption);
        if (c.Text)
            EXPECT_EQ(c.Text, box.Text);
        else
            EXPECT_TRUE(!box.Text.empty() && box.Text.find(L"Unknown error") == std::wstring::npos)
                << Narrow(box.Text);
        EXPECT_EQ(UINT(MB_ICONERROR), box.Icon);
        EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
        EXPECT_EQ(nullptr, box.Owner);
    }
}

} // namespace
