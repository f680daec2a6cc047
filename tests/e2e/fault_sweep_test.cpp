// Every call of the disk service that a command makes fails in turn, with a code of its own.
// After each run: the registry holds what the command's rule leaves, the process holds no
// handle more than before, every row tells the truth about the service, and the program
// still answers.
#include "e2e_fixture.h"
#include <algorithm>

namespace e2e {
namespace {

using standin::Operation;

// Rows are named after the command run, then the call that fails.
struct SweepCase {
    const char* Name;
    Operation Fails;
    DWORD Code;
    imagegen::Kind Kind;   // of the image whose call fails
    const wchar_t* Status; // its row afterwards
};

void PrintTo(const SweepCase& c, std::ostream* out) {
    *out << c.Name;
}

class FaultSweepTest : public TesselTest, public ::testing::WithParamInterface<SweepCase> {
  protected:
    // A good image first, so the service has set up whatever it keeps per process before
    // the failing one comes.
    void Register(const std::wstring& flag) {
        SetFlag(good_, StartupFlagOn);
        SetFlag(target_, flag);
    }
    // The handles of a start that never touches the target image.
    int LogonHandlesWithoutTarget() {
        Register(StartupFlagOff);
        probe::Target control;
        EXPECT_TRUE(Start(&control));
        int handles = -1;
        probe::WaitFor(ExitTimeoutMs, [&] { return (handles = control.HandleCount()) > 0; });
        EXPECT_TRUE(Quit(&control));
        return handles;
    }

    std::wstring good_ = MakeImage(L"a-good.vhd", imagegen::Kind::VhdDynamic);
    std::wstring target_ = MakeImage(L"b-target.img", GetParam().Kind);
};

TEST_P(FaultSweepTest, LeavesNothingBehind) {
    const SweepCase& c = GetParam();
    int handlesBefore = LogonHandlesWithoutTarget();
    ASSERT_GT(handlesBefore, 0);
    Register(StartupFlagOn);
    std::vector<RegistryValue> before = ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath());
    ASSERT_TRUE(standin::InjectFault(c.Fails, target_, c.Code));
    probe::Target tessel;
    ASSERT_TRUE(Start(&tessel));

    std::vector<standin::JournalEntry> calls = JournalFor(target_, standin::OperationName(c.Fails));
    EXPECT_EQ(1,
              std::count_if(calls.begin(), calls.end(), [&](auto& e) { return e.Code == c.Code; }))
        << "the planted fault was not met\n"
        << Describe(JournalFor(target_));
    std::vector<probe::Row> rows = tessel.Rows();
    EXPECT_TRUE(RowsAre(
        rows, {{good_, StatusMounted, true, false, true},
               {target_, c.Status, true, c.Status != StatusMounted, c.Status == StatusMounted}}));
    EXPECT_TRUE(RowsMatchAttachments(rows, tessel.Pid()));
    EXPECT_TRUE(KeptByFlagRule(before, ReadValues(HKEY_LOCAL_MACHINE, UserSettingsPath()), rows));
    // The service notes a closed handle from a watcher thread, a moment later.
    int handlesAfter = -1;
    probe::WaitFor(ExitTimeoutMs,
                   [&] { return (handlesAfter = tessel.HandleCount()) == handlesBefore; });
    EXPECT_EQ(handlesBefore, handlesAfter) << "handles without the target image, and after";
    EXPECT_TRUE(tessel.Boxes().empty());
    EXPECT_TRUE(tessel.Answers(ExitTimeoutMs));
    EXPECT_TRUE(Quit(&tessel));
}

// Codes no service gives on its own, each with a text of the system's.
INSTANTIATE_TEST_SUITE_P(
    Calls, FaultSweepTest,
    ::testing::Values(
        // The VHD probe fails, and a VHD is none of the others.
        SweepCase{"LogonOpen", Operation::Open, ERROR_CRC, imagegen::Kind::VhdFixed,
                  StatusOpenError},
        // Without its type an ISO image is attached writable, which the service refuses.
        SweepCase{"LogonTypeQuery", Operation::Info, ERROR_NOT_READY, imagegen::Kind::Iso9660,
                  StatusMountError},
        SweepCase{"LogonAttach", Operation::Attach, ERROR_IO_DEVICE, imagegen::Kind::VhdFixed,
                  StatusMountError}),
    [](const ::testing::TestParamInfo<SweepCase>& param) { return std::string(param.param.Name); });

} // namespace
} // namespace e2e
