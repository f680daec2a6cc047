// The information dialog as a user opens it (the command, a double-click) on the one
// selected, current, mounted row, read from its controls.
#include "dialogs/diskinfo.h"
#include "e2e_fixture.h"
#include <filesystem>

namespace e2e {
namespace {

using DiskInfoTest = TesselTest;

TEST_F(DiskInfoTest, ShowsTheOneSelectedMountedImage) {
    imagegen::Options fixed, dynamic, parent, child;
    fixed.virtualSize = 16ull << 20;
    dynamic.virtualSize = 3ull << 30;
    dynamic.sectorSize = 4096;
    parent.virtualSize = 2ull << 40;
    child.parent = PathOf(L"parent.vhd");
    for (auto [name, kind, options] : {std::tuple{L"a.vhd", imagegen::Kind::VhdFixed, fixed},
                                       {L"b.vhdx", imagegen::Kind::VhdxDynamic, dynamic},
                                       {L"parent.vhd", imagegen::Kind::VhdDynamic, parent},
                                       {L"c.vhd", imagegen::Kind::VhdDifferencing, child}}) {
        ASSERT_EQ(0u, imagegen::CreateImage(PathOf(name), kind, options));
        if (name[0] != L'p')
            SetFlag(PathOf(name), StartupFlagOn);
    }
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    ASSERT_TRUE(tessel.PostTrayDoubleClick());
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.WindowVisible(); }));
    // Each image file takes a few whole mebibytes.
    auto mebibytes = [&](const wchar_t* name) {
        return std::to_wstring(std::filesystem::file_size(PathOf(name)) >> 20);
    };
    // Row by row: the texts of controls 1004 to 1012, and how the dialog is ended (OK, Escape,
    // the close box); the second row opens it by a double-click, the others by the command.
    const std::vector<std::wstring> expected[] = {
        {L"16", mebibytes(L"a.vhd"), L"0", L"512", SubtypeFixedText, UnitMegabytes, UnitMegabytes,
         UnitBytes, UnitBytes},
        {L"3", mebibytes(L"b.vhdx"), L"32", L"4", SubtypeDynamicText, UnitGigabytes, UnitMegabytes,
         UnitMegabytes, UnitKilobytes},
        {L"2", mebibytes(L"c.vhd"), L"2", L"512", SubtypeDifferencingText, UnitTerabytes,
         UnitMegabytes, UnitMegabytes, UnitBytes}};
    const std::pair<UINT, WPARAM> close[] = {
        {WM_COMMAND, IDOK}, {WM_KEYDOWN, VK_ESCAPE}, {WM_SYSCOMMAND, SC_CLOSE}};
    for (int row = 0; row < 3; ++row) {
        if (row == 1) {
            tessel.Click(tessel.List(), tessel.RowPoint(row));
            tessel.Click(tessel.List(), tessel.RowPoint(row));
        } else {
            ASSERT_TRUE(tessel.Select({row}));
            SendMessageW(tessel.List(), LVM_SETHOTITEM, WPARAM(row), 0);
            PostMessageW(tessel.List(), WM_COMMAND, IDM_DISK_INFO, 0);
        }
        probe::Box dialog;
        ASSERT_TRUE(tessel.WaitBox(ExitTimeoutMs, &dialog)) << row;
        EXPECT_EQ(L"Virtual Hard Disk Information", dialog.Caption);
        EXPECT_EQ(nullptr, GetWindow(dialog.Window, GW_OWNER));
        std::vector<std::wstring> shown;
        for (int id = IDC_VIRTUAL_SIZE; id <= IDC_SECTOR_SIZE_UNIT; ++id)
            shown.push_back(probe::ControlText(dialog.Window, id));
        EXPECT_EQ(expected[row], shown);
        // Each label shows whole in the dialog's font.
        HDC dc = GetDC(dialog.Window);
        HGDIOBJ font =
            SelectObject(dc, CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0, 0, 0, L"MS Shell Dlg 2"));
        for (HWND label = nullptr;
             (label = FindWindowExW(dialog.Window, label, L"Static", nullptr));) {
            wchar_t text[64] = {};
            RECT room = {};
            SIZE need = {};
            GetClientRect(label, &room);
            GetTextExtentPoint32W(dc, text, GetWindowTextW(label, text, 64), &need);
            EXPECT_LE(need.cx, room.right) << probe::Narrow(text);
        }
        DeleteObject(SelectObject(dc, font));
        ReleaseDC(dialog.Window, dc);
        PostMessageW(dialog.Window, close[row].first, close[row].second, 0);
        EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.Boxes().empty(); })) << row;
    }
    // A current row that is not selected shows nothing: the command returns at once. The list
    // test's grey item covers two selected rows and an unmounted one.
    ASSERT_TRUE(tessel.Select({1}));
    SendMessageW(tessel.List(), LVM_SETHOTITEM, 0, 0);
    EXPECT_TRUE(SendMessageTimeoutW(tessel.List(), WM_COMMAND, IDM_DISK_INFO, 0, SMTO_ABORTIFHUNG,
                                    ExitTimeoutMs, nullptr));
    EXPECT_TRUE(tessel.Boxes().empty());
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
