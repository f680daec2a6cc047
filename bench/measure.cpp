// The Windows side of scripts/bench.sh. Prints key=value lines for the script to tabulate.
//   measure start EXE RUNS [ROWS]   start to idle message loop (WaitForInputIdle), median of
//                                   RUNS; private memory once idle; with ROWS, also checks
//                                   that the list held that many rows when idle was reported
//   measure pair BASE EXE RUNS [ROWS]  the same for two programs, started in turn, so that
//                                   a busy machine slows both alike (keys of BASE: base_*)
//   measure idle-cpu EXE SECONDS    CPU time the idle program uses over SECONDS
//   measure attach N FOLDER         open and attach N images FOLDER\img-0.vhd... through the
//                                   disk service alone, to tell its cost from the program's
//   measure load N FOLDER RUNS      Tessel's start-up in this process on the registered list
//                                   of N images FOLDER\img-0.vhd..., the even-numbered marked;
//                                   then, RUNS times, the load again beside each of its shares
//                                   done alone: reading the registry, the row operations on a
//                                   list like Tessel's (also with the list sized first), and
//                                   the disk service's open, type query
//                                   and attach of the marked images (the best of RUNS: the
//                                   least disturbed by other work on the machine)
//   measure loop SECONDS [SPLIT [probe]]  Tessel's start-up in this process, then its message
//                                   loop run here for SECONDS: the loop's wake-ups for Tessel
//                                   per minute before and after SPLIT seconds, the CPU time
//                                   and Tessel's timers left at the end; with probe, also the
//                                   longest a message posted every 10 ms waited in the queue (the
//                                   longest stall)
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <virtdisk.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "app/globals.h"
#include "app/startup.h"
#include "disklist/listview.h"
#include "disklist/load.h"
#include "disklist/pending.h"
#include "settings/store.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Started {
    PROCESS_INFORMATION Info = {};
    double IdleMs = -1;
};

bool StartAndWaitIdle(const std::wstring& exe, Started* started) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    double t0 = Now();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started->Info))
        return false;
    if (WaitForInputIdle(started->Info.hProcess, 120000) != 0)
        return false;
    started->IdleMs = Now() - t0;
    return true;
}

struct WindowsOf {
    DWORD Pid;
    std::vector<HWND> Found;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowsOf*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->Pid)
        search->Found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    WindowsOf search{pid, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

int ListRows(DWORD pid) {
    for (HWND window : TopLevelWindows(pid))
        if (HWND list = GetDlgItem(window, 1))
            return int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    return -1;
}

// Both programs end on WM_USER + 1; anything left after that is ended by force.
void Stop(Started* started) {
    for (HWND window : TopLevelWindows(started->Info.dwProcessId))
        PostMessageW(window, WM_USER + 1, 0, 0);
    if (WaitForSingleObject(started->Info.hProcess, 20000) != WAIT_OBJECT_0) {
        TerminateProcess(started->Info.hProcess, 99);
        WaitForSingleObject(started->Info.hProcess, 5000);
    }
    CloseHandle(started->Info.hThread);
    CloseHandle(started->Info.hProcess);
}

SIZE_T PrivateBytes(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters)))
        return 0;
    // Wine leaves PrivateUsage at 0 for other processes; its PagefileUsage is the
    // process's anonymous resident memory, the nearest it has.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

double CpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

struct Series {
    std::wstring Exe;
    int Rows = -1;
    std::vector<double> Idle, Memory;
    int Early = 0;

    bool RunOnce() {
        Started started;
        if (!StartAndWaitIdle(Exe, &started)) {
            fwprintf(stderr, L"measure: %ls did not start or become idle\n", Exe.c_str());
            return false;
        }
        // Read after the clock stopped, so the checks do not count.
        if (Rows >= 0 && ListRows(started.Info.dwProcessId) != Rows)
            ++Early;
        Idle.push_back(started.IdleMs);
        Memory.push_back(double(PrivateBytes(started.Info.hProcess)) / 1024.0);
        Stop(&started);
        return true;
    }

    void Print(const char* prefix) const {
        printf("%sidle_ms_median=%.1f\n%sidle_ms_min=%.1f\n%sidle_ms_max=%.1f\n%sprivate_kib=%.0f\n"
               "%searly_idle=%d\n",
               prefix, Median(Idle), prefix, *std::min_element(Idle.begin(), Idle.end()), prefix,
               *std::max_element(Idle.begin(), Idle.end()), prefix, Median(Memory), prefix, Early);
    }
};

int StartCommand(const std::wstring& base, const std::wstring& exe, int runs, int rows) {
    Series baseSeries{base, -1, {}, {}, 0}, series{exe, rows, {}, {}, 0};
    // A first start of each loads its DLLs into the page cache; it is not counted.
    Series warmUp{exe, -1, {}, {}, 0};
    if (!warmUp.RunOnce())
        return 1;
    for (int i = 0; i < runs; ++i) {
        if (!base.empty() && !baseSeries.RunOnce())
            return 1;
        if (!series.RunOnce())
            return 1;
    }
    if (!base.empty())
        baseSeries.Print("base_");
    series.Print("");
    return 0;
}

int IdleCpuCommand(const std::wstring& exe, int seconds) {
    Started started;
    if (!StartAndWaitIdle(exe, &started))
        return 1;
    // Let start-up's own work settle before the window opens.
    Sleep(500);
    double before = CpuMs(started.Info.hProcess);
    Sleep(DWORD(seconds) * 1000);
    double after = CpuMs(started.Info.hProcess);
    printf("idle_cpu_ms=%.1f\nidle_seconds=%d\n", after - before, seconds);
    Stop(&started);
    return 0;
}

// The service's watcher ends the attachments of closed handles on a thread of its own: that
// work is let finish before the next timing.
void Settle() {
    Sleep(1000);
}

template <typename Function> Function* Find(HMODULE dll, const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

// The shares of the load, each done alone as the load does it.
struct Shares {
    decltype(OpenVirtualDisk)* Open;
    decltype(GetVirtualDiskInformation)* Query;
    decltype(AttachVirtualDisk)* Attach;
    int Count;
    std::wstring Folder;
    HWND List; // a second list like Tessel's, for the row operations alone

    bool ReadRegistry() const {
        std::vector<wchar_t> name(PathBufferChars);
        std::vector<BYTE> data(ImageDataBytes);
        int values = 0;
        for (DWORD i = 0;; ++i) {
            DWORD nameChars = PathBufferChars, dataBytes = ImageDataBytes, type = 0;
            if (RegEnumValueW(App.SettingsKey.get(), i, name.data(), &nameChars, nullptr, &type,
                              data.data(), &dataBytes) == ERROR_NO_MORE_ITEMS)
                break;
            values += type == REG_SZ;
        }
        return values == Count;
    }

    // What Tessel does with the list's notifications is Tessel's own share. Sized: the list
    // told the number of rows first (LVM_SETITEMCOUNT), to see whether that saves the control
    // work as the rows come.
    bool FillRows(bool sized) const {
        if (sized)
            SendMessageW(List, LVM_SETITEMCOUNT, Count, 0);
        HWND tessels = std::exchange(App.DiskList, List);
        for (int i = 0; i < Count; ++i) {
            std::wstring path = Folder + L"\\img-" + std::to_wstring(i) + L".vhd";
            InsertDiskRow(path.c_str());
            bool marked = i % 2 == 0;
            SetRowChecked(i, marked);
            SetRowStartup(i, marked);
            SetRowStatus(i, marked ? StatusMounted : StatusUnmounted);
            SetRowHandle(i, marked ? HANDLE(INT_PTR(i + 1)) : nullptr);
        }
        bool full = RowCount() == Count;
        App.DiskList = tessels;
        return full;
    }

    // The marked images as the load mounts them, their handles kept for Clear.
    bool MountMarked() {
        bool mounted = true;
        for (int i = 0; i < Count; i += 2) {
            std::wstring path = Folder + L"\\img-" + std::to_wstring(i) + L".vhd";
            VIRTUAL_STORAGE_TYPE type = {VIRTUAL_STORAGE_TYPE_DEVICE_VHD,
                                         VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
            HANDLE handle = nullptr;
            GET_VIRTUAL_DISK_INFO info = {};
            info.Version = GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE;
            ULONG size = sizeof(info);
            ATTACH_VIRTUAL_DISK_PARAMETERS parameters = {};
            parameters.Version = ATTACH_VIRTUAL_DISK_VERSION_1;
            mounted &=
                !Open(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL, OPEN_VIRTUAL_DISK_FLAG_NONE,
                      nullptr, &handle) &&
                !Query(handle, &size, &info, nullptr) &&
                !Attach(handle, nullptr, ATTACH_VIRTUAL_DISK_FLAG_NONE, 0, &parameters, nullptr);
            if (handle)
                Handles.push_back(handle);
        }
        return mounted;
    }

    // Undone outside the timings, as Tessel's list is emptied between its loads.
    void Clear() {
        SendMessageW(List, LVM_DELETEALLITEMS, 0, 0);
        for (HANDLE handle : Handles)
            CloseHandle(handle);
        Handles.clear();
        Settle();
    }

    std::vector<HANDLE> Handles;
};

// Empties Tessel's list as if it had never loaded: handles closed, rows gone, and the
// registry to be read from its first value.
bool Unload() {
    int rows = RowCount();
    for (int i = 0; i < rows; ++i)
        if (HANDLE image = GetRowHandle(i))
            CloseHandle(image);
    SendMessageW(App.DiskList, LVM_DELETEALLITEMS, 0, 0);
    App.EnumPosition = 0;
    Settle();
    return rows > 0;
}

// A list made as Tessel makes its own and sized as start-up leaves it, under a window of
// its own so that none of its notifications reaches Tessel; null when it cannot be made.
HWND SecondList() {
    HWND window = App.MainWindow, list = App.DiskList;
    WNDPROC listProc = App.DiskListProc;
    App.MainWindow = CreateWindowExW(0, WC_STATICW, nullptr, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                     CW_USEDEFAULT, 0, nullptr, nullptr, App.Instance, nullptr);
    HWND second = App.MainWindow && CreateDiskList() ? App.DiskList : nullptr;
    if (second)
        LayoutDiskList(0, 0);
    App.MainWindow = window;
    App.DiskList = list;
    App.DiskListProc = listProc;
    return second;
}

// Tessel's own start-up in this process, then, RUNS times, its load again beside each of
// its shares done alone; the best time of each.
int LoadCommand(int count, const std::wstring& folder, int runs) {
    HMODULE dll = LoadLibraryExW(L"virtdisk.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dll || !StartTessel(GetModuleHandleW(nullptr)))
        return 1;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    Shares shares{Find<decltype(OpenVirtualDisk)>(dll, "OpenVirtualDisk"),
                  Find<decltype(GetVirtualDiskInformation)>(dll, "GetVirtualDiskInformation"),
                  Find<decltype(AttachVirtualDisk)>(dll, "AttachVirtualDisk"),
                  count,
                  folder,
                  nullptr,
                  {}};
    shares.List = SecondList();
    std::vector<double> load, registry, rows, sizedRows, service;
    // Start-up's own load warms the caches and is not counted.
    bool done = shares.Open && shares.Query && shares.Attach && shares.List && Unload();
    auto time = [&](std::vector<double>* times, auto work) {
        double t0 = Now();
        done &= bool(work());
        times->push_back(Now() - t0);
    };
    for (int i = 0; done && i < runs; ++i) {
        time(&load, [&] { return LoadDiskList() && RowCount() == count; });
        done &= Unload();
        time(&registry, [&] { return shares.ReadRegistry(); });
        time(&rows, [&] { return shares.FillRows(false); });
        SendMessageW(shares.List, LVM_DELETEALLITEMS, 0, 0);
        time(&sizedRows, [&] { return shares.FillRows(true); });
        time(&service, [&] { return shares.MountMarked(); });
        shares.Clear();
    }
    if (!done)
        return 1;
    auto best = [](const std::vector<double>& times) {
        return *std::min_element(times.begin(), times.end());
    };
    printf("load_ms=%.1f\nregistry_ms=%.1f\nrows_ms=%.1f\nrows_sized_ms=%.1f\nservice_ms=%.1f\n",
           best(load), best(registry), best(rows), best(sizedRows), best(service));
    return 0;
}

constexpr UINT ProbeMessage = WM_APP + 77;
constexpr DWORD ProbeIntervalMs = 10;

struct Probe {
    DWORD Thread;
    volatile LONG Stop;
};

// Posts the time to the user-interface thread every 10 ms: how long each waits there is how
// long the message loop was held up.
DWORD WINAPI ProbeWorker(void* context) {
    auto* probe = static_cast<Probe*>(context);
    while (!probe->Stop) {
        PostThreadMessageW(probe->Thread, ProbeMessage, 0, LPARAM(Now() * 1000));
        Sleep(ProbeIntervalMs);
    }
    return 0;
}

// Tessel's start-up in this process on the registered list, then its message loop run here
// for SECONDS: how often the loop wakes for Tessel (per minute before and after SPLIT
// seconds), the process's CPU time, its timers left at the end, and, probing, the longest a
// probe waited.
int LoopCommand(int seconds, int split, bool probing) {
    if (!StartTessel(GetModuleHandleW(nullptr)))
        return 1;
    Probe probe{GetCurrentThreadId(), 0};
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue, before the first post
    HANDLE prober = probing ? CreateThread(nullptr, 0, ProbeWorker, &probe, 0, nullptr) : nullptr;
    if (probing && !prober)
        return 1;
    double start = Now(), end = start + seconds * 1000.0, cpu = CpuMs(GetCurrentProcess());
    double longest = 0;
    int early = 0, late = 0;
    for (double now; (now = Now()) < end;) {
        if (MsgWaitForMultipleObjectsEx(0, nullptr, DWORD(end - now) + 1, QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0)
            continue;
        bool forTessel = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!msg.hwnd && msg.message == ProbeMessage) {
                longest = std::max(longest, Now() - double(msg.lParam) / 1000);
                continue;
            }
            forTessel = true;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (forTessel)
            ++(Now() - start < split * 1000.0 ? early : late);
    }
    cpu = CpuMs(GetCurrentProcess()) - cpu;
    // Killing a timer succeeds only when it exists: the count of Tessel's that do.
    int timers = 0;
    for (UINT_PTR timer : {RetryTimer, TriggerTimer, LogonSettleTimer})
        timers += KillTimer(App.MainWindow, timer) != 0;
    InterlockedExchange(&probe.Stop, 1);
    if (prober) {
        WaitForSingleObject(prober, INFINITE);
        CloseHandle(prober);
    }
    double after = seconds > split ? (seconds - split) / 60.0 : 0;
    printf("wakeups_first=%d\nwakeups_first_per_min=%.1f\nwakeups_after=%d\n"
           "wakeups_after_per_min=%.1f\ncpu_ms=%.1f\nlongest_stall_ms=%.1f\ntimers=%d\n",
           early, early / (std::min(split, seconds) / 60.0), late, after ? late / after : 0.0, cpu,
           longest, timers);
    return 0;
}

int AttachCommand(int count, const std::wstring& folder) {
    HMODULE dll = LoadLibraryExW(L"virtdisk.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dll)
        return 1;
    auto open = reinterpret_cast<decltype(&OpenVirtualDisk)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "OpenVirtualDisk")));
    auto attach = reinterpret_cast<decltype(&AttachVirtualDisk)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "AttachVirtualDisk")));
    if (!open || !attach)
        return 1;
    std::vector<HANDLE> handles;
    int failed = 0;
    double t0 = Now();
    for (int i = 0; i < count; ++i) {
        std::wstring path = folder + L"\\img-" + std::to_wstring(i) + L".vhd";
        VIRTUAL_STORAGE_TYPE type = {VIRTUAL_STORAGE_TYPE_DEVICE_VHD,
                                     VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
        HANDLE handle = nullptr;
        if (open(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ALL, OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr,
                 &handle) ||
            attach(handle, nullptr, ATTACH_VIRTUAL_DISK_FLAG_NONE, 0, nullptr, nullptr))
            ++failed;
        if (handle)
            handles.push_back(handle);
    }
    double elapsed = Now() - t0;
    for (HANDLE handle : handles)
        CloseHandle(handle);
    printf("attach_ms=%.1f\nattach_failed=%d\n", elapsed, failed);
    return failed ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"start" && argc >= 4)
        return StartCommand(L"", argv[2], _wtoi(argv[3]), argc > 4 ? _wtoi(argv[4]) : -1);
    if (command == L"pair" && argc >= 5)
        return StartCommand(argv[2], argv[3], _wtoi(argv[4]), argc > 5 ? _wtoi(argv[5]) : -1);
    if (command == L"idle-cpu" && argc >= 4)
        return IdleCpuCommand(argv[2], _wtoi(argv[3]));
    if (command == L"attach" && argc >= 4)
        return AttachCommand(_wtoi(argv[2]), argv[3]);
    if (command == L"load" && argc >= 5)
        return LoadCommand(_wtoi(argv[2]), argv[3], _wtoi(argv[4]));
    if (command == L"loop" && argc >= 3)
        return LoopCommand(_wtoi(argv[2]), argc > 3 ? _wtoi(argv[3]) : _wtoi(argv[2]),
                           argc > 4 && std::wstring(argv[4]) == L"probe");
    fwprintf(
        stderr,
        L"usage: measure start EXE RUNS [ROWS] | pair BASE EXE RUNS [ROWS] | idle-cpu "
        L"EXE SECONDS | attach N FOLDER | load N FOLDER RUNS | loop SECONDS [SPLIT [probe]]\n");
    return 2;
}
