#include "disklist/pending.h"
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <wtsapi32.h>
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "app/globals.h"
#include "app/traynotice.h"
#include "disklist/listview.h"
#include "disklist/load.h"

namespace {

constexpr DWORD BusyDelaysS[] = {2, 4, 8, 16, 30, 60};
constexpr DWORD NetworkDelaysS[] = {5, 10, 20, 40, 60};
constexpr DWORD LateDelayS = 120;
constexpr DWORD FastPollS = 5;
constexpr DWORD SlowPollS = 60;

// Each image is one heap block, its path at the end; the lists hold them in row order (rows
// are only appended or removed). The standard containers would bring the C++ library's
// exception support into the program.
struct PendingImage {
    FailureKind Kind;
    unsigned Tries;  // failures so far
    unsigned Step;   // failures since this kind's schedule began
    ULONGLONG Since; // the first failure
    ULONGLONG Due;   // the next timed try
    wchar_t Path[1];
};

// An image no longer tried, for the logon balloon.
struct FailedImage {
    FailureKind Kind; // what it last waited for, or Permanent
    DWORD Code;
    wchar_t Path[1];
};

template <typename Record> struct RecordList {
    Record** Items = nullptr;
    size_t Count = 0;
    size_t Capacity = 0;
    Record** begin() const { return Items; }
    Record** end() const { return Items + Count; }
};

// What the worker found: Code 0 when the file answers. The paths are copies at the block's end.
struct CheckedImage {
    const wchar_t* Path;
    DWORD Code;
    bool VolumePresent;
};

struct CheckJob {
    HWND Window;
    size_t Count;
    CheckedImage Images[1];
};

using UniqueCheckJob = UniqueAny<CheckJob*, &FreeProcessHeap>;

struct PendingState {
    RecordList<PendingImage> Images;
    RecordList<FailedImage> Failed;
    ULONGLONG WakeTime = 0; // logon, resume or unlock
    bool PassRunning = false;
    bool PassAgain = false;
    bool Settled = false; // the logon balloon's moment has come
    HANDLE IpNotification = nullptr;
    bool SessionNotification = false;
} Pending;

void* HeapBytes(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

// A new record with a copy of the path, at the list's end; null when memory is short.
template <typename Record> Record* Append(RecordList<Record>& list, const wchar_t* path) {
    if (list.Count == list.Capacity) {
        const size_t capacity = list.Capacity ? list.Capacity * 2 : 8;
        void* items = list.Items
                          ? HeapReAlloc(GetProcessHeap(), 0, list.Items, capacity * sizeof(Record*))
                          : HeapBytes(capacity * sizeof(Record*));
        if (!items)
            return nullptr;
        list.Items = static_cast<Record**>(items);
        list.Capacity = capacity;
    }
    auto* record = static_cast<Record*>(
        HeapBytes(offsetof(Record, Path) + (lstrlenW(path) + 1) * sizeof(wchar_t)));
    if (record) {
        lstrcpyW(record->Path, path);
        list.Items[list.Count++] = record;
    }
    return record;
}

template <typename Record> Record* Find(const RecordList<Record>& list, const wchar_t* path) {
    for (Record* record : list)
        if (lstrcmpiW(record->Path, path) == 0)
            return record;
    return nullptr;
}

template <typename Record> void Erase(RecordList<Record>& list, const wchar_t* path) {
    Record* record = Find(list, path);
    if (!record)
        return;
    Record** item = std::find(list.begin(), list.end(), record);
    std::copy(item + 1, list.end(), item);
    --list.Count;
    FreeProcessHeap(record);
}

PendingImage* FindPending(const wchar_t* path) {
    return Find(Pending.Images, path);
}

const wchar_t* PendingStatus(FailureKind kind) {
    switch (kind) {
    case FailureKind::Busy:
        return StatusInUseRetrying;
    case FailureKind::Network:
        return StatusWaitingForNetwork;
    default:
        return StatusWaitingForDrive;
    }
}

const wchar_t* Reason(FailureKind kind, DWORD code) {
    switch (kind) {
    case FailureKind::WaitingForDrive:
        return ReasonDriveMissing;
    case FailureKind::Busy:
        return ReasonInUse;
    case FailureKind::Network:
        return ReasonNetwork;
    case FailureKind::Permanent:
        break;
    }
    return code == ERROR_PRIVILEGE_NOT_HELD || code == ERROR_ACCESS_DENIED ? ReasonNeedsAdmin
                                                                           : ReasonNotDiskImage;
}

void Schedule(PendingImage& image, ULONGLONG now) {
    image.Due = now + RetryDelayMs(image.Kind, image.Step, now - Pending.WakeTime);
}

// The network callback comes on a system thread: it only posts.
void CALLBACK OnIpInterfaceChange(void*, MIB_IPINTERFACE_ROW*, MIB_NOTIFICATION_TYPE) {
    PostMessageW(App.MainWindow, WM_APP_NETWORK_CHANGED, 0, 0);
}

// Registered only while something waits, so nothing wakes Tessel otherwise. Session
// notifications can be refused while the logon is still starting their service: every pass
// asks again until they are had.
void ListenForTriggers() {
    if (!Pending.IpNotification)
        NotifyIpInterfaceChange(AF_UNSPEC, OnIpInterfaceChange, nullptr, FALSE,
                                &Pending.IpNotification);
    if (!Pending.SessionNotification)
        Pending.SessionNotification =
            WTSRegisterSessionNotification(App.MainWindow, NOTIFY_FOR_THIS_SESSION);
}

void StopListening() {
    if (Pending.IpNotification)
        CancelMibChangeNotify2(Pending.IpNotification);
    Pending.IpNotification = nullptr;
    if (Pending.SessionNotification)
        WTSUnRegisterSessionNotification(App.MainWindow);
    Pending.SessionNotification = false;
    KillTimer(App.MainWindow, RetryTimer);
    KillTimer(App.MainWindow, TriggerTimer);
}

void ArmRetryTimer() {
    if (!Pending.Images.Count || Pending.PassRunning)
        return;
    ULONGLONG due = Pending.Images.Items[0]->Due;
    for (const PendingImage* image : Pending.Images)
        due = std::min(due, image->Due);
    const ULONGLONG now = GetTickCount64();
    SetTimer(App.MainWindow, RetryTimer, due > now ? UINT(due - now) : USER_TIMER_MINIMUM, nullptr);
}

// Lines for a balloon, room for every image Tessel knows of.
struct Notice {
    UniqueAny<NoticeLine*, &FreeProcessHeap> Lines{static_cast<NoticeLine*>(
        HeapBytes((Pending.Images.Count + Pending.Failed.Count + 1) * sizeof(NoticeLine)))};
    size_t Count = 0;
    void Add(const wchar_t* path, const wchar_t* reason) {
        if (Lines)
            Lines.get()[Count++] = {path, reason};
    }
    void Show(const wchar_t* title, DWORD flags) const {
        if (Count)
            ShowTrayNotice(title, Lines.get(), Count, flags);
    }
};

// The row of a record's image while it is marked and not mounted, else -1.
int RowNotMounted(const wchar_t* path) {
    const int row = FindRowByPath(path);
    return row != -1 && IsRowChecked(row) && !GetRowHandle(row) ? row : -1;
}

// Every marked image not mounted now, with its reason, in row order (both lists keep it). By
// the images' own paths, not PathBuffer: a timer can come while a command's box is open.
void Settle() {
    KillTimer(App.MainWindow, LogonSettleTimer);
    if (Pending.Settled)
        return;
    Pending.Settled = true;
    Notice notice;
    size_t i = 0, j = 0;
    int waiting = -2, failed = -2; // -2: not looked up yet
    while (i < Pending.Images.Count || j < Pending.Failed.Count) {
        if (i < Pending.Images.Count && waiting == -2)
            waiting = RowNotMounted(Pending.Images.Items[i]->Path);
        if (j < Pending.Failed.Count && failed == -2)
            failed = RowNotMounted(Pending.Failed.Items[j]->Path);
        const bool takeWaiting =
            i < Pending.Images.Count && (j == Pending.Failed.Count || waiting < failed);
        if (takeWaiting) {
            const PendingImage* image = Pending.Images.Items[i++];
            if (waiting != -1)
                notice.Add(image->Path, Reason(image->Kind, 0));
            waiting = -2;
        } else {
            const FailedImage* image = Pending.Failed.Items[j++];
            if (failed != -1)
                notice.Add(image->Path, Reason(image->Kind, image->Code));
            failed = -2;
        }
    }
    notice.Show(NotMountedTitle(notice.Count), NIIF_WARNING);
}

void NoteFailed(const wchar_t* path, FailureKind kind, DWORD code) {
    if (FailedImage* failed = Append(Pending.Failed, path)) {
        failed->Kind = kind;
        failed->Code = code;
    }
}

DWORD WINAPI CheckFiles(void* parameter) {
    auto* job = static_cast<CheckJob*>(parameter);
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
    for (size_t i = 0; i < job->Count; ++i) {
        CheckedImage& image = job->Images[i];
        if (GetFileAttributesW(image.Path) == INVALID_FILE_ATTRIBUTES)
            image.Code = GetLastError();
        image.VolumePresent = image.Code == ERROR_SUCCESS || ImageVolumePresent(image.Path);
    }
    if (!PostMessageW(job->Window, WM_APP_PENDING_CHECKED, 0, reinterpret_cast<LPARAM>(job)))
        FreeProcessHeap(job);
    return 0;
}

enum class Outcome { Waiting, Mounted, Stopped };

// One more try of an image whose check has answered: an open and attach when its file is
// there, exactly as the load makes them.
Outcome TryAgain(int row, PendingImage& image, const CheckedImage& checked, ULONGLONG now) {
    DWORD code = checked.Code;
    bool openFailed = true;
    if (code == ERROR_SUCCESS) {
        if (MountMarkedRow(row, image.Path, &openFailed))
            return Outcome::Mounted;
        code = App.LastDiskError;
    }
    FailureKind kind = ClassifyDiskFailure(code, checked.VolumePresent, ++image.Tries);
    const bool tooLong = kind != FailureKind::WaitingForDrive && now - image.Since >= GiveUpAfterMs;
    if (kind == FailureKind::Permanent || tooLong) {
        NoteFailed(image.Path, tooLong ? kind : FailureKind::Permanent, code);
        ShowMountFailure(row, openFailed);
        return Outcome::Stopped;
    }
    image.Step = kind == image.Kind ? image.Step + 1 : 1;
    image.Kind = kind;
    SetRowStatus(row, PendingStatus(kind));
    Schedule(image, now);
    return Outcome::Waiting;
}

// The paths of the images due (or all), copied behind the records for the worker.
UniqueCheckJob MakeCheckJob(bool all, ULONGLONG now) {
    size_t count = 0, chars = 0;
    for (const PendingImage* image : Pending.Images)
        if (all || image->Due <= now) {
            ++count;
            chars += lstrlenW(image->Path) + 1;
        }
    if (!count)
        return UniqueCheckJob();
    const size_t records = offsetof(CheckJob, Images) + count * sizeof(CheckedImage);
    UniqueCheckJob job(static_cast<CheckJob*>(HeapBytes(records + chars * sizeof(wchar_t))));
    if (!job)
        return job;
    job->Window = App.MainWindow;
    auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(job.get()) + records);
    for (const PendingImage* image : Pending.Images)
        if (all || image->Due <= now) {
            job->Images[job->Count++] = {lstrcpyW(text, image->Path), ERROR_SUCCESS, true};
            text += lstrlenW(text) + 1;
        }
    return job;
}

void StartPass(bool all) {
    if (Pending.PassRunning) {
        Pending.PassAgain = true;
        return;
    }
    ListenForTriggers();
    UniqueCheckJob job = MakeCheckJob(all, GetTickCount64());
    if (!job) {
        ArmRetryTimer();
        return;
    }
    // A file on a server that does not answer can take tens of seconds: the check is the
    // worker's, the open and attach the window's once the file answers.
    HANDLE thread = CreateThread(nullptr, 0, CheckFiles, job.get(), 0, nullptr);
    if (!thread) {
        ArmRetryTimer();
        return;
    }
    job.release();
    CloseHandle(thread);
    Pending.PassRunning = true;
}

} // namespace

DWORD RetryDelayMs(FailureKind kind, unsigned step, ULONGLONG sinceWakeMs) {
    const size_t index = step ? step - 1 : 0;
    DWORD seconds = LateDelayS;
    switch (kind) {
    case FailureKind::WaitingForDrive:
        seconds = sinceWakeMs < FastPhaseMs ? FastPollS : SlowPollS;
        break;
    case FailureKind::Busy:
        if (index < std::size(BusyDelaysS))
            seconds = BusyDelaysS[index];
        break;
    case FailureKind::Network:
        if (index < std::size(NetworkDelaysS))
            seconds = NetworkDelaysS[index];
        break;
    case FailureKind::Permanent:
        break;
    }
    return seconds * 1000;
}

bool NoteLogonFailure(int row, const wchar_t* path, DWORD code) {
    const FailureKind kind = ClassifyDiskFailure(code, ImageVolumePresent(path), 1);
    if (kind == FailureKind::Permanent) {
        NoteFailed(path, kind, code);
        return false;
    }
    PendingImage* image = Append(Pending.Images, path);
    if (!image)
        return false;
    image->Kind = kind;
    image->Tries = image->Step = 1;
    image->Since = GetTickCount64();
    SetRowStatus(row, PendingStatus(kind));
    return true;
}

void StartPendingRetries() {
    const ULONGLONG now = GetTickCount64();
    Pending.WakeTime = now;
    if (!Pending.Images.Count) {
        Settle();
        RefreshTrayTip();
        return;
    }
    for (PendingImage* image : Pending.Images)
        Schedule(*image, now);
    ListenForTriggers();
    SetTimer(App.MainWindow, LogonSettleTimer, LogonSettleMs, nullptr);
    ArmRetryTimer();
    RefreshTrayTip();
}

void RequestPendingPass(Trigger trigger) {
    if (!Pending.Images.Count)
        return;
    if (trigger == Trigger::Wake)
        Pending.WakeTime = GetTickCount64();
    if (trigger == Trigger::NetworkChanged)
        for (PendingImage* image : Pending.Images)
            if (image->Kind == FailureKind::Network)
                image->Step = 0;
    // Several messages come for one event; a second's quiet makes them one pass.
    SetTimer(App.MainWindow, TriggerTimer, TriggerDebounceMs, nullptr);
}

void OnPendingTimer(UINT_PTR id) {
    switch (id) {
    case RetryTimer:
        KillTimer(App.MainWindow, id);
        StartPass(false);
        break;
    case TriggerTimer:
        KillTimer(App.MainWindow, id);
        StartPass(true);
        break;
    case LogonSettleTimer:
        Settle();
        break;
    }
}

void OnPendingChecked(LPARAM answer) {
    UniqueCheckJob job(reinterpret_cast<CheckJob*>(answer));
    Pending.PassRunning = false;
    Notice mounted, stopped;
    for (size_t i = 0; i < job->Count; ++i) {
        const CheckedImage& checked = job->Images[i];
        PendingImage* image = FindPending(checked.Path);
        if (!image)
            continue; // the user took it over meanwhile
        const int row = FindRowByPath(checked.Path);
        if (row == -1 || GetRowHandle(row)) {
            Erase(Pending.Images, checked.Path);
            continue;
        }
        const Outcome outcome = TryAgain(row, *image, checked, GetTickCount64());
        if (outcome == Outcome::Mounted)
            mounted.Add(checked.Path, nullptr);
        if (outcome == Outcome::Stopped) {
            const FailedImage* failed = Pending.Failed.Items[Pending.Failed.Count - 1];
            stopped.Add(checked.Path, Reason(failed->Kind, failed->Code));
        }
        if (outcome != Outcome::Waiting)
            Erase(Pending.Images, checked.Path);
    }
    if (Pending.PassAgain) {
        Pending.PassAgain = false;
        StartPass(true);
    }
    ArmRetryTimer();
    if (!Pending.Images.Count)
        StopListening();
    if (!Pending.Settled) {
        if (!Pending.Images.Count)
            Settle();
    } else if (stopped.Count) {
        for (size_t i = 0; i < mounted.Count; ++i)
            stopped.Add(mounted.Lines.get()[i].Path, nullptr);
        stopped.Show(GaveUpTitle, NIIF_WARNING | NIIF_NOSOUND);
    } else {
        mounted.Show(MountedLaterTitle, NIIF_INFO | NIIF_NOSOUND);
    }
    RefreshTrayTip();
}

bool ForgetPendingImage(const wchar_t* path) {
    Erase(Pending.Failed, path);
    if (!FindPending(path))
        return false;
    Erase(Pending.Images, path);
    if (!Pending.Images.Count) {
        StopListening();
        // The user is at the list: what it shows needs no balloon.
        KillTimer(App.MainWindow, LogonSettleTimer);
        Pending.Settled = true;
    }
    RefreshTrayTip();
    return true;
}

bool IsRowPending(int row) {
    return ReadRowPath(row) && FindPending(App.PathBuffer.get());
}

void RefreshTrayTip() {
    int marked = 0, mounted = 0;
    const int count = RowCount();
    for (int row = 0; row < count; ++row) {
        if (!IsRowChecked(row))
            continue;
        ++marked;
        mounted += GetRowHandle(row) != nullptr;
    }
    ShowMountSummaryTip(marked, mounted, int(Pending.Images.Count));
}
