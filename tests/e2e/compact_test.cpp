// Compaction as a user runs it: the question, each row in list order, its outcome in the row, a box
// for a mounted image only, each left as it was. compact_images.sh adds and checks QEMU's images.
#include "disklist/compact.h"
#include "e2e_fixture.h"

namespace e2e {
namespace {

using CompactTest = TesselTest;
// Codes with system texts of their own, so that each box shows whose code it is.
constexpr DWORD CompactCode = ERROR_CRC, ReattachCode = ERROR_IO_DEVICE;

// Posts the command, answers the question, then OK in every box, and returns the boxes (as Answer
// has them, and the images attached meanwhile) once the idle priority put back marks the end. Each
// error box is a moment to take the last row away, so that the run meets an index that holds no
// row.
std::vector<std::wstring> RunCommand(probe::Target& tessel, WORD command, int answer) {
    std::vector<std::wstring> boxes;
    EXPECT_TRUE(tessel.SetPriority(THREAD_PRIORITY_NORMAL));
    PostMessageW(tessel.List(), WM_COMMAND, command, 0);
    for (probe::Box box;; box = {}) {
        EXPECT_TRUE(probe::WaitFor(ExitTimeoutMs, [&] {
            for (const probe::Box& shown : tessel.Boxes())
                if (!shown.Buttons.empty() && (box = shown, true))
                    return true;
            return tessel.Priority() == THREAD_PRIORITY_IDLE;
        }));
        if (!box.Window)
            return boxes;
        const std::wstring attached = L" " + std::to_wstring(standin::ListAttached().size());
        if (!boxes.empty())
            SendMessageW(tessel.List(), LVM_DELETEITEM, 5, 0);
        boxes.push_back(Answer(tessel, boxes.empty() ? answer : IDOK) + attached);
    }
}

// The disk calls since the last look, a line per image, an attach's flags when it has any, "!"
// after a failed call.
std::wstring Calls() {
    std::wstring calls, last;
    for (const standin::JournalEntry& e : standin::ReadJournal())
        if (e.Op != L"info" && e.Op != L"close") {
            if (e.Path != last)
                calls += L"\n" + e.Path.substr(e.Path.rfind(L'\\') + 1) + L":";
            std::wstring flags = e.Op == L"attach" ? e.Field(L"flags") : L"0x0";
            calls +=
                L" " + e.Op + (flags != L"0x0" ? L"(" + flags + L")" : L"") + (e.Code ? L"!" : L"");
            last = e.Path;
        }
    standin::ClearJournal();
    return calls;
}

TEST_F(CompactTest, RowsInListOrderEndMountedOrClosedAsTheyWere) {
    std::wstring folder = probe::WindowsPath(probe::GetEnv(L"COMPACT_IMAGES"));
    ASSERT_FALSE(folder.empty()) << "run through compact_images.sh";
    // Rows by name, as Wine lists values; the image maker makes those QEMU did not; marked ones are
    // mounted at the start. The last run fails b.vhd's compaction and its mount after it, whose box
    // still names the compaction's code. Compaction attaches read-only with no drive letters (0x3).
    const struct {
        const wchar_t* Name;
        bool Marked;
        const wchar_t *Calls, *Status;
        bool Error, Mounted;
    } rows[] = {
        {L"b.vhd", 1, L" detach attach(0x3) compact! detach attach!", StatusMountError, 1, 0},
        {L"b3.iso", 1, L" compact!", StatusMountedCompactError, 1, 1},
        {L"qemu.vhd", 1, L" detach attach(0x3) compact detach attach", StatusMountedCompacted, 0,
         1},
        {L"qemu.vhdx", 0, L" open attach(0x3) compact detach", StatusUnmountedCompacted, 0, 0},
        {L"r.iso", 0, L" open compact!", StatusUnmountedCompactError, 1, 0},
        {L"z-removed.vhd", 0, L"", nullptr, 0, 0}};
    imagegen::Options options;
    options.pattern = "DZ";
    std::wstring calls;
    std::vector<ExpectedRow> after;
    for (const auto& row : rows) {
        std::wstring path = folder + L"\\" + row.Name;
        ASSERT_TRUE(GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ||
                    !imagegen::CreateImage(path,
                                           path.ends_with(L".iso") ? imagegen::Kind::Iso9660
                                                                   : imagegen::Kind::VhdDynamic,
                                           options));
        SetFlag(path, row.Marked ? StartupFlagOn : StartupFlagOff);
        calls += *row.Calls ? L"\n" + (row.Name + std::wstring(L":")) + row.Calls : L"";
        if (row.Status)
            after.push_back({path, row.Status, row.Marked, row.Error, row.Mounted});
    }
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    Calls();

    // No changes nothing. Two selected rows: one after the other in list order.
    const std::vector confirmation = {
        BoxText(CompactConfirmCaption, CompactConfirmText, {IDYES, IDNO}) + L" 3"};
    EXPECT_EQ(confirmation, RunCommand(tessel, IDM_COMPACT_ALL, IDNO));
    ASSERT_TRUE(tessel.Select({2, 3}));
    EXPECT_EQ(confirmation, RunCommand(tessel, IDM_COMPACT, IDYES));
    EXPECT_EQ(L"\nqemu.vhd:" + std::wstring(rows[2].Calls) + L"\nqemu.vhdx:" + rows[3].Calls,
              Calls());

    using enum standin::Operation;
    for (auto [op, name, code, skip] : {std::tuple{Compact, L"b.vhd", CompactCode, 0u},
                                        {Attach, L"b.vhd", ReattachCode, 1u},
                                        {Compact, L"b3.iso", CompactCode, 0u}})
        ASSERT_TRUE(standin::InjectFault(op, folder + L"\\" + name, code, 1, skip));
    const std::wstring error = ErrorBoxText(CompactCode) + L" 2";
    EXPECT_EQ((std::vector{confirmation[0], error, error}),
              RunCommand(tessel, IDM_COMPACT_ALL, IDYES));
    EXPECT_EQ(calls, Calls());
    EXPECT_TRUE(RowsAre(tessel.Rows(), after));
    EXPECT_EQ(2u, standin::ListAttached().size()) << Describe(standin::ListAttached());
    EXPECT_TRUE(Quit(&tessel));
}

} // namespace
} // namespace e2e
