// The list as a user works it: context menu, check boxes, Delete key, drops, the open-file dialog,
// boxes answered; after each step the rows, values and attached images at one look.
#include "e2e_fixture.h"
#include "app/mainwindow.h"
#include "disklist/mount.h"
#include "disklist/remove.h"
#include "resources/resource.h"

namespace e2e {
namespace {

using Ids = std::vector<UINT>;

class ListTest : public TesselTest {
  protected:
    // Starts Tessel on the given values and shows its window.
    void Open(const std::vector<std::pair<std::wstring, const wchar_t*>>& values) {
        for (const auto& [path, flag] : values)
            SetFlag(path, flag);
        ASSERT_TRUE(Start(&tessel_));
        ASSERT_TRUE(tessel_.PostTrayDoubleClick());
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return tessel_.WindowVisible(); }));
    }
    std::wstring Image(const wchar_t* name) { return MakeImage(name, imagegen::Kind::VhdFixed); }
    POINT Row(int row) const { return tessel_.RowPoint(row); }
    POINT BelowRows() const { return {100, 300}; }
    // Two clicks on one spot would make a double click: every other one lands lower.
    void Click(POINT at, bool right = false) {
        at.y += 4 * (clicks_++ % 2);
        tessel_.Click(tessel_.List(), at, right);
    }
    // Right-clicks and reads the open menu: the ids of its grey items, in menu order.
    Ids RightClick(POINT at) {
        Click(at, true);
        std::vector<probe::AgentMenuItem> items;
        EXPECT_TRUE(tessel_.WaitMenu(ExitTimeoutMs, &items));
        Ids grey;
        for (const probe::AgentMenuItem& item : items)
            if (item.State & MFS_GRAYED)
                grey.push_back(item.Id);
        return grey;
    }
    Ids Greys(POINT at) {
        Ids grey = RightClick(at);
        EXPECT_TRUE(tessel_.CloseMenu());
        return grey;
    }
    void Choose(POINT at, UINT id) {
        RightClick(at);
        EXPECT_TRUE(tessel_.ChooseMenuItem(id)) << id;
    }
    void Delete(std::vector<int> rows) {
        tessel_.Select(rows);
        tessel_.PressKeys({VK_DELETE});
    }

    probe::Target tessel_;
    int clicks_ = 0;
};

// The check box stores the startup flag at once, merely selecting a row stores it again; a
// right-click greys what would find nothing to do; the Delete key forgets the selected rows but
// keeps their files.
TEST_F(ListTest, CheckBoxesRightClickAndTheDeleteKey) {
    const std::wstring a = Image(L"a.vhd"), b = Image(L"b.vhd"), c = Image(L"c.vhd");
    Open({{a, StartupFlagOn}, {b, StartupFlagOff}, {c, StartupFlagOff}});
    const ExpectedRow mountedA = {a, StatusMounted, true, false, true},
                      unmountedC = {c, StatusUnmounted, false, false, false};
    Click(tessel_.CheckBoxPoint(1));
    EXPECT_TRUE(ListIs(tessel_, {mountedA, {b, StatusUnmounted, true, false, false}, unmountedC}));
    Click(tessel_.CheckBoxPoint(1));
    const std::vector<ExpectedRow> rows = {mountedA, {b, StatusUnmounted}, unmountedC};
    EXPECT_TRUE(ListIs(tessel_, rows));
    ASSERT_EQ(ERROR_SUCCESS,
              RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, UserSettingsPath().c_str(), a.c_str()));
    Click(Row(0));
    EXPECT_TRUE(ListIs(tessel_, rows));
    const Ids noSelection = {IDM_MOUNT, IDM_UNMOUNT, IDM_DISK_INFO, IDM_COMPACT};
    Click(Row(1));
    EXPECT_EQ((Ids{IDM_UNMOUNT, IDM_DISK_INFO}), Greys(Row(1))) << "one unmounted row";
    Click(Row(0));
    EXPECT_EQ(Ids{IDM_MOUNT}, Greys(Row(0))) << "one mounted row";
    tessel_.Select({0, 1});
    EXPECT_EQ(Ids{IDM_DISK_INFO}, Greys(Row(0))) << "mounted and unmounted";
    EXPECT_EQ(noSelection, Greys(BelowRows())) << "no selection";
    Click(Row(0));
    Greys(Row(0));
    SendMessageW(tessel_.List(), LVM_SETHOTITEM, WPARAM(-1), 0);
    EXPECT_EQ((Ids{IDM_MOUNT, IDM_UNMOUNT, IDM_COMPACT}), Greys(Row(0)))
        << "no current row, a mounted row clicked: its information is offered";
    Click(Row(2));
    Greys(Row(2)); // once the menu is open, the click is through
    SendMessageW(tessel_.List(), LVM_SETHOTITEM, WPARAM(-1), 0);
    EXPECT_EQ(noSelection, RightClick(Row(2))) << "no current row";
    ASSERT_TRUE(tessel_.ChooseMenuItem(IDM_MOUNT_ALL));
    EXPECT_EQ((Ids{IDM_MOUNT, IDM_MOUNT_ALL}), RightClick(Row(2))) << "all mounted";
    ASSERT_TRUE(tessel_.ChooseMenuItem(IDM_UNMOUNT_ALL));
    EXPECT_EQ((Ids{IDM_UNMOUNT, IDM_DISK_INFO, IDM_UNMOUNT_ALL}), Greys(Row(2))) << "none mounted";
    Delete({0, 1});
    EXPECT_TRUE(ListIs(tessel_, {unmountedC}));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(a.c_str()));
    Delete({0});
    ASSERT_TRUE(ListIs(tessel_, {}));
    // Mount, Unmount and Compact keep the state the last popup left them in.
    EXPECT_EQ((Ids{IDM_UNMOUNT, IDM_DISK_INFO, IDM_MOUNT_ALL, IDM_UNMOUNT_ALL, IDM_COMPACT_ALL,
                   IDM_STARTUP_ALL_ON, IDM_STARTUP_ALL_OFF}),
              Greys(BelowRows()))
        << "empty list";
    EXPECT_TRUE(Quit(&tessel_));
}

// A drop adds the images not listed yet, stored at once as not marked; anything else of 10,000
// names is passed over without a word, a device never opened; a name is no match for a longer one.
// The open-file dialog, the path typed in, mounts a new image, stored at once, and passes a listed
// one.
TEST_F(ListTest, DropAndInsertAddNewImagesOnly) {
    const std::wstring a = Image(L"a.vhd"), b = Image(L"b.vhd"), longer = Image(L"a.vhd.vhd"),
                       c = Image(L"c.vhd"), d = Image(L"d.vhd");
    const DWORD planted = 0xE0F0BEE1;
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Attach, d, planted));
    ASSERT_TRUE(CreateDirectoryW(PathOf(L"sub").c_str(), nullptr));
    MakeImage(L"sub\\inner.vhd", imagegen::Kind::VhdFixed);
    Open({});
    ASSERT_TRUE(tessel_.Drop({longer}));
    ASSERT_TRUE(tessel_.Drop({a}));
    // Besides: the same new image twice, a folder (not searched), a file that is no image, a
    // device, a relative name and missing files.
    std::vector<std::wstring> names = {
        PathOf(L"A.VHD"), b, b, PathOf(L"sub"), probe::TesselExe(), L"\\\\.\\PhysicalDrive0",
        L"relative.vhd"};
    while (names.size() < 10000)
        names.push_back(PathOf(L"missing-" + std::to_wstring(names.size()) + L".vhd"));
    ASSERT_TRUE(tessel_.Drop(names));
    std::vector<ExpectedRow> rows = {{longer, L""}, {a, L""}, {b, L""}};
    EXPECT_TRUE(ListIs(tessel_, rows));
    EXPECT_TRUE(tessel_.Boxes().empty());
    EXPECT_TRUE(JournalFor(names[5]).empty() && JournalFor(names[6]).empty());
    for (const std::wstring& path : {c, PathOf(L"A.VHD"), d}) {
        Choose(BelowRows(), IDM_INSERT_AND_MOUNT);
        probe::Box dialog;
        ASSERT_TRUE(tessel_.WaitBox(ExitTimeoutMs, &dialog));
        ASSERT_TRUE(tessel_.TypeLine(path));
        ASSERT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] { return !IsWindow(dialog.Window); }));
    }
    // The failed attach shows its code, with no error image on the row.
    std::wstring box = Answer(tessel_, IDOK);
    EXPECT_EQ(
        0u, box.find(ErrorCaption + std::wstring(L" | Unknown error ") + std::to_wstring(planted)))
        << Narrow(box);
    rows.insert(rows.end(), {{c, StatusMounted, false, false, true}, {d, StatusMountError}});
    EXPECT_TRUE(ListIs(tessel_, rows));
    EXPECT_TRUE(Quit(&tessel_));
}

TEST_F(ListTest, MountAndUnmountCommandsGoRowByRow) {
    const std::wstring a = Image(L"a.vhd"), b = Image(L"b.vhd"), c = Image(L"c.vhd"),
                       d = Image(L"d.vhd");
    Open({{a, StartupFlagOff}, {b, StartupFlagOff}, {c, StartupFlagOff}, {d, StartupFlagOn}});
    std::vector<ExpectedRow> rows = {{a, StatusUnmounted},
                                     {b, StatusUnmounted},
                                     {c, StatusMounted, false, false, true},
                                     {d, StatusMounted, true, false, true}};
    tessel_.Select({2, 3});
    Choose(Row(3), IDM_MOUNT);
    EXPECT_TRUE(ListIs(tessel_, rows));
    Choose(Row(0), IDM_MOUNT_ALL);
    // Setting all marks changes the next start only; a row already marked is stored again.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, UserSettingsPath().c_str(), d.c_str());
    for (UINT command : {IDM_STARTUP_ALL_ON, IDM_STARTUP_ALL_OFF}) {
        Choose(Row(0), command);
        for (ExpectedRow& row : rows)
            row = {row.Path, StatusMounted, command == IDM_STARTUP_ALL_ON, false, true};
        EXPECT_TRUE(ListIs(tessel_, rows)) << command;
    }
    const std::wstring question = BoxText(QuestionCaption, ExitUnmountQuestion, {IDYES, IDNO});
    Choose(Row(0), IDM_UNMOUNT_ALL_AND_EXIT);
    EXPECT_EQ(question, Answer(tessel_, IDNO));
    EXPECT_TRUE(ListIs(tessel_, rows));
    Choose(Row(0), IDM_UNMOUNT_ALL_AND_EXIT);
    EXPECT_EQ(question, Answer(tessel_, IDYES));
    DWORD code = 0;
    EXPECT_TRUE(tessel_.WaitExit(ExitTimeoutMs, &code) && code == 1) << code;
    // Mounted rows were passed over: each image was attached and detached once.
    for (const ExpectedRow& row : rows)
        for (const wchar_t* op : {L"attach", L"detach"})
            EXPECT_EQ(1u, JournalFor(row.Path, op).size()) << Describe(JournalFor(row.Path));
}

// Each selected file is named in its own question, from the bottom row up.
TEST_F(ListTest, DeleteImageFileAsksForEachFile) {
    const std::wstring a = Image(L"a.vhd"), b = Image(L"b.vhd"), c = Image(L"c.vhd"),
                       missing = PathOf(L"m.vhd");
    Open({{a, StartupFlagOn}, {b, StartupFlagOff}, {c, StartupFlagOff}, {missing, StartupFlagOff}});
    tessel_.Select({0, 1, 3});
    Choose(Row(3), IDM_DELETE_FILES);
    for (auto [path, button] : {std::pair{missing, IDYES}, {b, IDYES}, {a, IDNO}})
        EXPECT_EQ(BoxText(DeleteFileCaption,
                          DeleteFileQuestion + std::wstring(DeleteFilePathBreak) + path,
                          {IDYES, IDNO}),
                  Answer(tessel_, button));
    EXPECT_TRUE(ListIs(
        tessel_, {{a, StatusUnmounted, true}, {c, StatusUnmounted}, {missing, StatusDeleteError}}));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(b.c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(a.c_str()));
    EXPECT_TRUE(Quit(&tessel_));
}

} // namespace
} // namespace e2e
