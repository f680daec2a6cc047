// The compaction commands as a user runs them: the question first, then each visited row in
// list order, its outcome in the row, a box only for a mounted image, every image left
// mounted or closed as it was. compact_images.sh adds QEMU's images and checks their content.
#include "disklist/compact.h"
#include "e2e_fixture.h"
#include <filesystem>
#include <functional>

namespace e2e {
namespace {

using CompactTest = TesselTest;
using standin::Operation;
// Codes with a system text of their own, so that each box shows whose code it got.
constexpr DWORD DetachCode = ERROR_DISK_FULL, CompactCode = ERROR_CRC,
                AttachCode = ERROR_WRITE_PROTECT;

// A box: caption | text | buttons (* the default) | owner | images attached meanwhile.
std::wstring Seen(const probe::Box& box, HWND mainWindow) {
    std::wstring out = box.Caption + L" | " + box.Text + L" |";
    for (const probe::BoxButton& button : box.Buttons)
        out += L" " + std::to_wstring(button.Id) + (button.Default ? L"*" : L"");
    out += GetWindow(box.Window, GW_OWNER) == mainWindow ? L" | owned" : L" | no owner";
    return out + L" | attached " + std::to_wstring(standin::ListAttached().size());
}

std::wstring Confirmation(int attached) {
    return CompactConfirmCaption + std::wstring(L" | ") + CompactConfirmText +
           L" | 6 7* | owned | attached " + std::to_wstring(attached);
}

std::wstring ErrorBox(DWORD code, int attached) {
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, ARRAYSIZE(text), nullptr);
    return ErrorCaption + (L" | " + std::wstring(text)) + L" | 1* | no owner | attached " +
           std::to_wstring(attached);
}

// Posts the command to the list, answers the question and then OK in every box, and returns
// the boxes once the command is over, which the idle priority put back marks.
std::vector<std::wstring> RunCommand(
    probe::Target& tessel, WORD command, int answer,
    const std::function<void()>& atSecondBox = [] {}) {
    std::vector<std::wstring> boxes;
    EXPECT_TRUE(tessel.SetPriority(THREAD_PRIORITY_NORMAL));
    PostMessageW(tessel.List(), WM_COMMAND, command, 0);
    for (probe::Box box;; box = {}) {
        EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] {
            for (const probe::Box& shown : tessel.Boxes())
                if (!shown.Buttons.empty() && (box = shown, true))
                    return true;
            return tessel.Priority() == THREAD_PRIORITY_IDLE;
        })) << "not back at idle priority";
        if (!box.Window)
            return boxes;
        boxes.push_back(Seen(box, tessel.Window()));
        if (boxes.size() == 2)
            atSecondBox();
        probe::PressButton(box, boxes.size() == 1 ? answer : IDOK);
        probe::WaitFor(ExitTimeoutMs, [&] { return !IsWindowVisible(box.Window); });
    }
}

// The disk calls since the journal was cleared: a line per image, "!" after a failed call.
std::wstring Calls() {
    std::wstring calls, last;
    for (const standin::JournalEntry& e : standin::ReadJournal()) {
        if (e.Op == L"info" || e.Op == L"close")
            continue;
        if (e.Path != last)
            calls += L"\n" + e.Path.substr(e.Path.rfind(L'\\') + 1) + L":";
        calls += L" " + e.Op + (e.Code ? L"!" : L"");
        last = e.Path;
    }
    standin::ClearJournal();
    return calls;
}

TEST_F(CompactTest, RowsInListOrderEndMountedOrClosedAsTheyWere) {
    std::wstring folder = probe::WindowsPath(probe::GetEnv(L"COMPACT_IMAGES"));
    ASSERT_FALSE(folder.empty()) << "run through compact_images.sh";
    probe::Target empty;
    ASSERT_TRUE(Start(&empty));
    EXPECT_EQ(std::vector{Confirmation(0)}, RunCommand(empty, IDM_COMPACT, IDYES));
    EXPECT_TRUE(Quit(&empty));
    EXPECT_EQ(L"", Calls());

    // Rows by name, as Wine lists the values; the image maker makes those QEMU did not.
    // Fault: planted for the run of every row.
    const struct {
        const wchar_t* Name;
        bool Marked, Mounted;
        Operation FaultOp;
        DWORD Fault, AttachFault;
        const wchar_t *Calls, *Status;
        bool Error;
    } rows[] = {
        {L"a.vhd", 1, 1, Operation::Detach, DetachCode, 0, L" detach!", StatusDetachError, 1},
        {L"b.vhd", 1, 1, Operation::Compact, CompactCode, 0, L" detach compact! attach",
         StatusMountedCompactError, 1},
        {L"b2.vhd", 1, 0, {}, 0, AttachCode, L" detach compact attach!", StatusMountError, 1},
        {L"b3.vhd", 1, 0, Operation::Compact, CompactCode, AttachCode, L" detach compact! attach!",
         StatusMountError, 1},
        {L"c.vhd", 0, 0, Operation::Compact, CompactCode, 0, L" open compact!",
         StatusUnmountedCompactError, 1},
        {L"d-gone.vhd", 0, 0, {}, 0, 0, L" open! open! open!", StatusOpenError, 1},
        {L"e-mount-failed.vhd", 1, 0, {}, 0, 0, L" open compact", StatusUnmountedCompacted, 1},
        {L"maker.vhd", 0, 0, {}, 0, 0, L" open compact", StatusUnmountedCompacted, 0},
        {L"maker.vhdx", 1, 1, {}, 0, 0, L" detach compact attach", StatusMountedCompacted, 0},
        {L"qemu.vhd", 1, 1, {}, 0, 0, L" detach compact attach", StatusMountedCompacted, 0},
        {L"qemu.vhdx", 0, 0, {}, 0, 0, L" open! open compact", StatusUnmountedCompacted, 0},
        {L"z-removed.vhd", 0, 0, {}, 0, 0, L"", nullptr, 0}};
    imagegen::Options options;
    options.pattern = "DZ";
    std::vector<ULONGLONG> before;
    std::wstring calls;
    std::vector<ExpectedRow> after;
    for (const auto& row : rows) {
        std::wstring path = folder + L"\\" + row.Name;
        auto kind =
            wcsstr(row.Name, L"vhdx") ? imagegen::Kind::VhdxDynamic : imagegen::Kind::VhdDynamic;
        ASSERT_TRUE(std::filesystem::exists(path) || !imagegen::CreateImage(path, kind, options));
        SetFlag(path, row.Marked ? StartupFlagOn : StartupFlagOff);
        before.push_back(std::filesystem::file_size(path));
        calls += *row.Calls ? L"\n" + (row.Name + std::wstring(L":")) + row.Calls : L"";
        if (row.Status)
            after.push_back({path, row.Status, row.Marked, row.Error, row.Mounted});
    }
    ASSERT_TRUE(
        standin::InjectFault(Operation::Attach, folder + L"\\e-mount-failed.vhd", DetachCode));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    ASSERT_TRUE(DeleteFileW((folder + L"\\d-gone.vhd").c_str()));
    std::vector<probe::Row> start = tessel.Rows();
    Calls();

    // No changes nothing; nor does Yes without a selected row.
    EXPECT_EQ(std::vector{Confirmation(6)}, RunCommand(tessel, IDM_COMPACT_ALL, IDNO));
    ASSERT_TRUE(tessel.Select({}));
    EXPECT_EQ(std::vector{Confirmation(6)}, RunCommand(tessel, IDM_COMPACT, IDYES));
    EXPECT_TRUE(SameRows(start, tessel.Rows()));
    // Two selected rows: one after the other in list order.
    ASSERT_TRUE(tessel.Select({8, 10}));
    EXPECT_EQ(std::vector{Confirmation(6)}, RunCommand(tessel, IDM_COMPACT, IDYES));
    EXPECT_EQ(L"\nmaker.vhdx: detach compact attach\nqemu.vhdx: open! open compact", Calls());

    for (const auto& row : rows) {
        std::wstring path = folder + L"\\" + row.Name;
        ASSERT_TRUE(!row.Fault || standin::InjectFault(row.FaultOp, path, row.Fault));
        ASSERT_TRUE(!row.AttachFault ||
                    standin::InjectFault(Operation::Attach, path, row.AttachFault));
    }
    EXPECT_EQ((std::vector{Confirmation(6), ErrorBox(DetachCode, 6), ErrorBox(CompactCode, 6),
                           ErrorBox(AttachCode, 5), ErrorBox(CompactCode, 4)}),
              RunCommand(tessel, IDM_COMPACT_ALL, IDYES,
                         [&] { SendMessageW(tessel.List(), LVM_DELETEITEM, 11, 0); }));
    EXPECT_EQ(calls, Calls());
    EXPECT_TRUE(RowsAre(tessel.Rows(), after));
    EXPECT_EQ(4u, standin::ListAttached().size()) << Describe(standin::ListAttached());
    for (size_t i = 0; i < after.size(); ++i) {
        bool done = after[i].Status == StatusMountedCompacted ||
                    after[i].Status == StatusUnmountedCompacted;
        EXPECT_TRUE(!done || std::filesystem::file_size(after[i].Path) < before[i])
            << Narrow(after[i].Path);
    }
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
