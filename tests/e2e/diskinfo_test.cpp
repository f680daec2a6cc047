// The information dialog as a user opens it (the command, the context menu, a double-click)
// on the one selected, current, mounted row, read from its controls; in every other case the
// command shows nothing.
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
    child.parent = PathOf(L"d-parent.vhd");
    // Rows a, b, c mounted; d not.
    for (auto [name, kind, options] : {std::tuple{L"a.vhd", imagegen::Kind::VhdFixed, fixed},
                                       {L"b.vhdx", imagegen::Kind::VhdxDynamic, dynamic},
                                       {L"d-parent.vhd", imagegen::Kind::VhdDynamic, parent},
                                       {L"c.vhd", imagegen::Kind::VhdDifferencing, child}}) {
        ASSERT_EQ(0u, imagegen::CreateImage(PathOf(name), kind, options));
        SetFlag(PathOf(name), name[0] == L'd' ? StartupFlagOff : StartupFlagOn);
    }
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    // Each image file takes a few whole mebibytes.
    auto mebibytes = [&](const wchar_t* name) {
        return std::to_wstring(std::filesystem::file_size(PathOf(name)) >> 20);
    };
    ASSERT_TRUE(tessel.PostTrayDoubleClick());
    ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.WindowVisible(); }));

    enum Way { Nothing, Command, Menu, DoubleClick };
    const struct {
        const char* Name;
        std::vector<int> Selected;
        int Current;
        Way Opened = Nothing;
        UINT CloseMessage = 0; // OK, Escape, the close box
        WPARAM CloseParam = 0;
        std::vector<std::wstring> Shown = {}; // controls 1004 to 1012
    } cases[] = {{"fixed VHD",
                  {0},
                  0,
                  Command,
                  WM_COMMAND,
                  IDOK,
                  {L"16", mebibytes(L"a.vhd"), L"0", L"512", SubtypeFixedText, UnitMegabytes,
                   UnitMegabytes, UnitBytes, UnitBytes}},
                 {"dynamic VHDX",
                  {1},
                  1,
                  Menu,
                  WM_KEYDOWN,
                  VK_ESCAPE,
                  {L"3", mebibytes(L"b.vhdx"), L"32", L"4", SubtypeDynamicText, UnitGigabytes,
                   UnitMegabytes, UnitMegabytes, UnitKilobytes}},
                 {"differencing VHD",
                  {2},
                  2,
                  DoubleClick,
                  WM_SYSCOMMAND,
                  SC_CLOSE,
                  {L"2", mebibytes(L"c.vhd"), L"2", L"512", SubtypeDifferencingText, UnitTerabytes,
                   UnitMegabytes, UnitMegabytes, UnitBytes}},
                 {"two selected", {0, 1}, 0},
                 {"current row not selected", {1}, 0},
                 {"not mounted", {3}, 3},
                 {"no current row", {0}, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(tessel.Select(c.Selected));
        SendMessageW(tessel.List(), LVM_SETHOTITEM, WPARAM(c.Current), 0);
        std::vector<probe::AgentMenuItem> menu;
        POINT row = c.Current == -1 ? POINT{} : tessel.RowPoint(c.Current);
        switch (c.Opened) {
        case Nothing: // the command returns at once: no dialog holds it
            EXPECT_TRUE(SendMessageTimeoutW(tessel.List(), WM_COMMAND, IDM_DISK_INFO, 0,
                                            SMTO_ABORTIFHUNG, 5000, nullptr));
            EXPECT_TRUE(tessel.Boxes().empty());
            continue;
        case Command:
            PostMessageW(tessel.List(), WM_COMMAND, IDM_DISK_INFO, 0);
            break;
        case Menu:
            tessel.Click(tessel.List(), row, true);
            ASSERT_TRUE(tessel.WaitMenu(ExitTimeoutMs, &menu));
            ASSERT_TRUE(tessel.ChooseMenuItem(IDM_DISK_INFO));
            break;
        case DoubleClick:
            tessel.Click(tessel.List(), row);
            tessel.Click(tessel.List(), row);
            break;
        }
        probe::Box dialog;
        ASSERT_TRUE(tessel.WaitBox(ExitTimeoutMs, &dialog));
        EXPECT_EQ(L"Virtual Hard Disk Information", dialog.Caption);
        EXPECT_EQ(nullptr, GetWindow(dialog.Window, GW_OWNER));
        std::vector<std::wstring> shown;
        for (int id = IDC_VIRTUAL_SIZE; id <= IDC_SECTOR_SIZE_UNIT; ++id)
            shown.push_back(probe::ControlText(dialog.Window, id));
        EXPECT_EQ(c.Shown, shown);
        PostMessageW(dialog.Window, c.CloseMessage, c.CloseParam, 0);
        EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel.Boxes().empty(); }));
    }
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
