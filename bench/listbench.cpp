// The list commands on the rows the script registered (none marked), timed in this process:
// Tessel starts here as it does at logon, then every row is selected and the commands run one
// after another. Prints key=value lines, in milliseconds per row.
//   listbench ROWS
#include "app/globals.h"
#include "app/startup.h"
#include "disklist/contextmenu.h"
#include "disklist/listview.h"
#include "disklist/mount.h"
#include "disklist/remove.h"
#include <cstdio>
#include <cstdlib>

namespace {

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

template <typename Command> double MsPerRow(int rows, int repeats, Command command) {
    const double start = Now();
    for (int i = 0; i < repeats; ++i)
        command();
    return (Now() - start) / repeats / rows;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int rows = argc > 1 ? _wtoi(argv[1]) : 0;
    if (rows <= 0 || !StartTessel(GetModuleHandleW(nullptr)) || RowCount() != rows)
        return 1;
    LVITEMW selected = {};
    selected.stateMask = selected.state = LVIS_SELECTED;
    SendMessageW(App.DiskList, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&selected));
    SetCurrentRow(0);
    const double mount = MsPerRow(rows, 1, MountAllDisks);
    // All rows mounted and selected: every scan of the rules runs to the end.
    const double rules = MsPerRow(rows, 200000 / rows, SetContextMenuItems);
    const double startup = MsPerRow(rows, 1, SetAllStartupOn);
    const double unmount = MsPerRow(rows, 1, UnmountAllDisks);
    const bool allUnmounted = !GetRowHandle(0) && !GetRowHandle(rows - 1);
    wprintf(L"mount_ms=%.4f\nunmount_ms=%.4f\nstartup_on_ms=%.4f\nrules_ms=%.5f\nok=%d\n", mount,
            unmount, startup, rules, allUnmounted);
    ReleaseResources();
    return 0;
}
