// Start-up's derivations and the pieces it builds, checked for every input that matters.
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/startup.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>

TEST(Startup, WindowsEightOrLaterFollowsTheReportedVersion) {
    struct Case {
        BOOL Queried;
        DWORD Major, Minor;
        UINT_PTR Expected;
    } cases[] = {
        {TRUE, 5, 0, 0}, {TRUE, 5, 1, 0}, {TRUE, 5, 2, 0},  {TRUE, 6, 0, 0}, {TRUE, 6, 1, 0},
        {TRUE, 6, 2, 1}, {TRUE, 6, 3, 1}, {TRUE, 10, 0, 1}, {TRUE, 7, 0, 1}, {FALSE, 10, 0, 0},
    };
    for (const Case& c : cases) {
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
        version.dwMajorVersion = c.Major;
        version.dwMinorVersion = c.Minor;
        EXPECT_EQ(c.Expected, WindowsEightOrLaterFrom(c.Queried, version))
            << "version " << c.Major << "." << c.Minor << " queried " << c.Queried;
    }
}

TEST(Startup, ColourDepthChoosesTheImageListFlag) {
    struct Case {
        int Bits;
        UINT Flag;
    } cases[] = {{4, ILC_COLOR8},   {8, ILC_COLOR8},   {15, ILC_COLOR8},
                 {16, ILC_COLOR16}, {24, ILC_COLOR24}, {32, ILC_COLOR32}};
    for (const Case& c : cases)
        EXPECT_EQ(c.Flag, ImageListColorFlag(c.Bits)) << c.Bits << " bits per pixel";
}

TEST(Startup, EnablePrivilegeReportsLookupAndAdjustment) {
    EXPECT_EQ(1, EnablePrivilege(SE_BACKUP_NAME));
    EXPECT_EQ(0, EnablePrivilege(L"SeNoSuchPrivilege"));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    LUID backup = {};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &backup));
    PRIVILEGE_SET check = {1, PRIVILEGE_SET_ALL_NECESSARY, {{backup, 0}}};
    BOOL enabled = FALSE;
    ASSERT_TRUE(PrivilegeCheck(token, &check, &enabled));
    CloseHandle(token);
    EXPECT_TRUE(enabled) << "SeBackupPrivilege is not enabled after EnablePrivilege";
}

namespace {

// The pixels an icon draws at 16x16 on a white ground.
std::vector<DWORD> Render(void (*draw)(HDC, int), int index) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    draw(dc, index);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + 256);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

const int IconIds[] = {IDI_LIST_DISK, IDI_LIST_ERROR, IDI_LIST_STARTUP_YES, IDI_LIST_STARTUP_NO};

void DrawListImage(HDC dc, int index) {
    ImageList_Draw(ImageListObject.List, index, dc, 0, 0, ILD_NORMAL);
}

void DrawIcon(HDC dc, int index) {
    auto icon = static_cast<HICON>(LoadImageW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IconIds[index]), IMAGE_ICON, 16, 16, 0));
    DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
}

// The list keeps no mask, so its pixels differ a little from the icon's own drawing;
// the nearest icon tells which one an image is.
long Distance(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    long sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16})
            sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                            static_cast<int>((b[i] >> shift) & 0xFF));
    return sum;
}

} // namespace

TEST(Startup, ImageListHoldsTheFourListIconsInOrder) {
    App.Instance = GetModuleHandleW(nullptr);
    BuildImageList();
    ASSERT_NE(nullptr, ImageListObject.List);
    ASSERT_EQ(4, ImageList_GetImageCount(ImageListObject.List));
    for (int image = 0; image < 4; ++image) {
        auto drawn = Render(DrawListImage, image);
        int nearest = -1;
        long best = 0;
        for (int icon = 0; icon < 4; ++icon) {
            long distance = Distance(drawn, Render(DrawIcon, icon));
            if (nearest < 0 || distance < best)
                nearest = icon, best = distance;
        }
        EXPECT_EQ(image, nearest) << "image " << image << " looks most like icon "
                                  << IconIds[nearest];
    }
}
