// Each disk call a command makes fails in turn with a code of its own: the registry, handles and
// rows then tell the truth, Tessel answers, and a box shows the text of the code that ended the
// attempt.
#include "e2e_fixture.h"
#include "disklist/compact.h"
#include "resources/resource.h"
#include <algorithm>
#include <string_view>

namespace e2e {
namespace {

using standin::Operation;

enum class Command {
    Logon,
    MountSelected,
    MountAll,
    UnmountSelected,
    UnmountAll,
    Remove,
    Drop,
    CompactMounted,
    CompactUnmounted
};

struct SweepCase {
    const char* Name; // the command, then the call that fails
    Command Run;
    Operation Fails;
    imagegen::Kind Kind;   // of the image whose call fails
    const wchar_t* Status; // its row afterwards; null: the row is gone
    bool Box;
};

// By operation: codes no service gives on its own, each with a text of the system's.
constexpr DWORD Codes[] = {ERROR_CRC, ERROR_IO_DEVICE, ERROR_BUSY, ERROR_DISK_FULL,
                           ERROR_NOT_READY};

class FaultSweepTest : public TesselTest, public ::testing::WithParamInterface<SweepCase> {
  protected:
    // The handles of a start that never opens the target image.
    int HandlesWithoutTarget(const SweepCase& c) {
        SetFlag(target_, StartupFlagOff);
        probe::Target control;
        EXPECT_TRUE(Start(&control));
        WarmUp(&control, c);
        int handles = Handles(control);
        EXPECT_TRUE(Quit(&control));
        return handles;
    }
    static int Handles(const probe::Target& tessel) {
        int handles = -1;
        probe::WaitFor(ExitTimeoutMs, [&] { return (handles = tessel.HandleCount()) > 0; });
        return handles;
    }
    // The code of the call that ended the attempt on the target: the one a box shows.
    DWORD LastFailure() const {
        DWORD code = 0;
        for (const standin::JournalEntry& e : JournalFor(target_))
            code = e.Code ? e.Code : code;
        return code;
    }
    // As the context menu or the Delete key gives it; waits until it is done or shows a box.
    void Run(probe::Target* tessel, const SweepCase& c) {
        const UINT ids[] = {0, IDM_MOUNT, IDM_MOUNT_ALL, IDM_UNMOUNT, IDM_UNMOUNT_ALL,
                            0, 0,         IDM_COMPACT,   IDM_COMPACT};
        if (c.Run == Command::Logon)
            return;
        if (c.Run == Command::Drop) {
            EXPECT_TRUE(tessel->Drop({target_}));
            return;
        }
        tessel->Select({1});
        if (c.Run == Command::Remove)
            SendMessageTimeoutW(tessel->List(), WM_KEYDOWN, VK_DELETE, 0, SMTO_ABORTIFHUNG,
                                ExitTimeoutMs, nullptr);
        else if (c.Box || ids[int(c.Run)] == IDM_COMPACT)
            PostMessageW(tessel->List(), WM_COMMAND, ids[int(c.Run)], 0);
        else
            SendMessageTimeoutW(tessel->List(), WM_COMMAND, ids[int(c.Run)], 0, SMTO_ABORTIFHUNG,
                                ExitTimeoutMs, nullptr);
        if (ids[int(c.Run)] == IDM_COMPACT)
            Answer(*tessel, IDYES);
    }
    // The agent's first drop and a compaction's first beep set things up: done before counting.
    void WarmUp(probe::Target* tessel, const SweepCase& c) {
        if (c.Run == Command::Drop) {
            EXPECT_TRUE(tessel->Drop({PathOf(L"missing.vhd")}));
        }
        if (c.Run != Command::CompactMounted && c.Run != Command::CompactUnmounted)
            return;
        tessel->Select({});
        PostMessageW(tessel->List(), WM_COMMAND, IDM_COMPACT, 0);
        Answer(*tessel, IDYES);
        tessel->Answers(ExitTimeoutMs);
    }

    std::wstring good_ = MakeImage(L"a-good.vhd", imagegen::Kind::VhdDynamic);
    std::wstring target_ = MakeImage(L"b-target.img", GetParam().Kind);
};

TEST_P(FaultSweepTest, LeavesNothingBehind) {
    const SweepCase& c = GetParam();
    const DWORD code = Codes[int(c.Fails)];
    const bool mounts = c.Run == Command::MountSelected || c.Run == Command::MountAll ||
                        c.Run == Command::CompactUnmounted;
    const bool goodMounted = c.Run != Command::UnmountAll;
    // The good image is mounted first, so the service has set up whatever it keeps per process.
    SetFlag(good_, goodMounted ? StartupFlagOn : StartupFlagOff);
    // A start, or a removal, leaves the target as if it had never been opened: handles are
    // compared with a start that never opens it, not with those before the command.
    int handlesBefore =
        c.Run == Command::Logon || c.Run == Command::Remove ? HandlesWithoutTarget(c) : -1;
    // A dropped image is not listed yet.
    if (c.Run != Command::Drop)
        SetFlag(target_, mounts ? StartupFlagOff : StartupFlagOn);
    if (c.Run == Command::Logon) {
        ASSERT_TRUE(standin::InjectFault(c.Fails, target_, code));
    }
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));
    WarmUp(&tessel, c);
    if (handlesBefore < 0)
        handlesBefore = Handles(tessel);
    ASSERT_GT(handlesBefore, 0);
    if (c.Run != Command::Logon) {
        ASSERT_TRUE(standin::InjectFault(c.Fails, target_, code));
    }
    Run(&tessel, c);

    if (c.Box) {
        EXPECT_EQ(Narrow(ErrorBoxText(LastFailure())), Narrow(Answer(tessel, IDOK)));
    }
    EXPECT_TRUE(tessel.Answers(ExitTimeoutMs));
    EXPECT_TRUE(tessel.Boxes().empty());
    std::vector<standin::JournalEntry> calls = JournalFor(target_, standin::OperationName(c.Fails));
    EXPECT_EQ(1, std::count_if(calls.begin(), calls.end(), [&](auto& e) { return e.Code == code; }))
        << "the planted fault was not met\n"
        << Describe(JournalFor(target_));
    std::vector<ExpectedRow> expected = {
        {good_, goodMounted ? StatusMounted : StatusUnmounted, goodMounted, false, goodMounted}};
    if (c.Status)
        expected.push_back({target_, c.Status, !mounts,
                            c.Status != StatusUnmountError && c.Status != StatusMounted,
                            std::wstring_view(c.Status).starts_with(StatusMounted) ||
                                c.Status == StatusUnmountError});
    EXPECT_TRUE(ListIs(tessel, expected));
    // The service notes a closed handle from a watcher thread, a moment later.
    EXPECT_TRUE(
        probe::WaitFor(ExitTimeoutMs, [&] { return tessel.HandleCount() == handlesBefore; }))
        << handlesBefore << " handles before, " << tessel.HandleCount() << " after";
    EXPECT_TRUE(Quit(&tessel));
}

// Without its type an ISO image is attached writable, which the service refuses with a code of
// its own.
using enum Command;
using enum Operation;
using enum imagegen::Kind;
const SweepCase Cases[] = {
    {"LogonOpen", Logon, Open, VhdFixed, StatusOpenError, false},
    {"LogonTypeQuery", Logon, Info, Iso9660, StatusMountError, false},
    {"LogonAttach", Logon, Attach, VhdFixed, StatusMountError, false},
    {"MountSelectedOpen", MountSelected, Open, VhdFixed, StatusOpenError, true},
    {"MountSelectedTypeQuery", MountSelected, Info, Iso9660, StatusMountError, true},
    {"MountSelectedAttach", MountSelected, Attach, VhdFixed, StatusMountError, true},
    {"MountAllAttach", MountAll, Attach, VhdFixed, StatusMountError, true},
    {"UnmountSelectedDetach", UnmountSelected, Detach, VhdFixed, StatusUnmountError, false},
    {"UnmountAllDetach", UnmountAll, Detach, VhdFixed, StatusMounted, false},
    {"RemoveDetach", Remove, Detach, VhdFixed, nullptr, false},
    // The open is the test that a dropped file is an image: it is passed over.
    {"DropOpen", Drop, Open, VhdFixed, nullptr, false},
    {"CompactMountedDetach", CompactMounted, Detach, VhdDynamic, StatusDetachError, true},
    {"CompactMountedCompact", CompactMounted, Compact, VhdDynamic, StatusMountedCompactError, true},
    // The read-only attach for the compaction: mounted again as it was, nothing compacted.
    {"CompactMountedAttach", CompactMounted, Attach, VhdDynamic, StatusMountedCompactError, true},
    // An image that is not mounted shows its failures only in its row.
    {"CompactUnmountedOpen", CompactUnmounted, Open, VhdDynamic, StatusOpenError, false},
    {"CompactUnmountedAttach", CompactUnmounted, Attach, VhdDynamic, StatusUnmountedCompactError,
     false},
    {"CompactUnmountedCompact", CompactUnmounted, Compact, VhdDynamic, StatusUnmountedCompactError,
     false},
    {"CompactUnmountedDetach", CompactUnmounted, Detach, VhdDynamic, StatusUnmountedCompactError,
     false}};
INSTANTIATE_TEST_SUITE_P(Calls, FaultSweepTest, ::testing::ValuesIn(Cases),
                         [](const auto& param) { return std::string(param.param.Name); });

} // namespace
} // namespace e2e
