#include "disklist/pending.h"
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <wtsapi32.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/traynotice.h"
#include "disklist/listview.h"
#include "disklist/load.h"
#include "vdisk/imagepath.h"

namespace {

constexpr DWORD BusyDelaysS[] = {2, 4, 8, 16, 30, 60};
constexpr DWORD NetworkDelaysS[] = {5, 10, 20, 40, 60};
constexpr DWORD LateDelayS = 120;
constexpr DWORD FastPollS = 5;
constexpr DWORD SlowPollS = 60;

struct PendingImage {
    std::wstring Path;
    FailureKind Kind;
    unsigned Tries;  // failures so far
    unsigned Step;   // failures since this kind's schedule began
    ULONGLONG Since; // the first failure
    ULONGLONG Due;   // the next timed try
};

// An image no longer tried, for the logon balloon.
struct FailedImage {
    std::wstring Path;
    FailureKind Kind; // what it last waited for, or Permanent
    DWORD Code;
};

// What the worker found: Code 0 when the file answers.
struct CheckedImage {
    std::wstring Path;
    DWORD Code;
    bool VolumePresent;
};

struct CheckJob {
    HWND Window;
    std::vector<CheckedImage> Images;
};

struct PendingState {
    std::vector<PendingImage> Images; // in row order: rows are only appended or removed
    std::vector<FailedImage> Failed;
    ULONGLONG WakeTime = 0; // logon, resume or unlock
    bool PassRunning = false;
    bool PassAgain = false;
    bool Settled = false; // the logon balloon's moment has come
    HANDLE IpNotification = nullptr;
    bool SessionNotification = false;
} Pending;

bool SamePath(const std::wstring& a, const wchar_t* b) {
    return lstrcmpiW(a.c_str(), b) == 0;
}

PendingImage* FindPending(const wchar_t* path) {
    auto found =
        std::find_if(Pending.Images.begin(), Pending.Images.end(),
                     [&](const PendingImage& image) { return SamePath(image.Path, path); });
    return found == Pending.Images.end() ? nullptr : &*found;
}

void ErasePending(const wchar_t* path) {
    std::erase_if(Pending.Images,
                  [&](const PendingImage& image) { return SamePath(image.Path, path); });
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
    if (Pending.Images.empty() || Pending.PassRunning)
        return;
    ULONGLONG due = Pending.Images.front().Due;
    for (const PendingImage& image : Pending.Images)
        due = std::min(due, image.Due);
    const ULONGLONG now = GetTickCount64();
    SetTimer(App.MainWindow, RetryTimer, due > now ? UINT(due - now) : USER_TIMER_MINIMUM, nullptr);
}

// The balloon's lines: every marked image not mounted now, with its reason, in row order. By
// their own paths, not PathBuffer: a timer can come while a box of a command is open.
std::vector<NoticeLine> NotMountedLines() {
    std::vector<std::pair<int, NoticeLine>> rows;
    auto add = [&](const std::wstring& path, const wchar_t* reason) {
        const int row = FindRowByPath(path.c_str());
        if (row != -1 && IsRowChecked(row) && !GetRowHandle(row))
            rows.push_back({row, {path, reason}});
    };
    for (const PendingImage& image : Pending.Images)
        add(image.Path, Reason(image.Kind, 0));
    for (const FailedImage& failed : Pending.Failed)
        add(failed.Path, Reason(failed.Kind, failed.Code));
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<NoticeLine> lines;
    for (const auto& [row, line] : rows)
        lines.push_back(line);
    return lines;
}

void Settle() {
    KillTimer(App.MainWindow, LogonSettleTimer);
    if (Pending.Settled)
        return;
    Pending.Settled = true;
    std::vector<NoticeLine> lines = NotMountedLines();
    if (!lines.empty())
        ShowTrayNotice(NotMountedTitle(lines.size()), lines, NIIF_WARNING);
}

DWORD WINAPI CheckFiles(void* parameter) {
    auto* job = static_cast<CheckJob*>(parameter);
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
    for (CheckedImage& image : job->Images) {
        if (GetFileAttributesW(image.Path.c_str()) == INVALID_FILE_ATTRIBUTES)
            image.Code = GetLastError();
        image.VolumePresent = image.Code == ERROR_SUCCESS || ImageVolumePresent(image.Path.c_str());
    }
    if (!PostMessageW(job->Window, WM_APP_PENDING_CHECKED, 0, reinterpret_cast<LPARAM>(job)))
        delete job;
    return 0;
}

enum class Outcome { Waiting, Mounted, Stopped };

// One more try of an image whose check has answered: an open and attach when its file is
// there, exactly as the load makes them.
Outcome TryAgain(int row, PendingImage& image, const CheckedImage& checked, ULONGLONG now) {
    DWORD code = checked.Code;
    bool openFailed = true;
    if (code == ERROR_SUCCESS) {
        if (MountMarkedRow(row, image.Path.c_str(), &openFailed))
            return Outcome::Mounted;
        code = App.LastDiskError;
    }
    FailureKind kind = ClassifyDiskFailure(code, checked.VolumePresent, ++image.Tries);
    const bool tooLong = kind != FailureKind::WaitingForDrive && now - image.Since >= GiveUpAfterMs;
    if (kind == FailureKind::Permanent || tooLong) {
        Pending.Failed.push_back({image.Path, tooLong ? kind : FailureKind::Permanent, code});
        ShowMountFailure(row, openFailed);
        return Outcome::Stopped;
    }
    image.Step = kind == image.Kind ? image.Step + 1 : 1;
    image.Kind = kind;
    SetRowStatus(row, PendingStatus(kind));
    Schedule(image, now);
    return Outcome::Waiting;
}

void StartPass(bool all) {
    if (Pending.PassRunning) {
        Pending.PassAgain = true;
        return;
    }
    ListenForTriggers();
    const ULONGLONG now = GetTickCount64();
    auto job = std::make_unique<CheckJob>(CheckJob{App.MainWindow, {}});
    for (const PendingImage& image : Pending.Images)
        if (all || image.Due <= now)
            job->Images.push_back({image.Path, ERROR_SUCCESS, true});
    if (job->Images.empty()) {
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

void RefreshAfterPass(const std::vector<NoticeLine>& mounted,
                      const std::vector<NoticeLine>& stopped) {
    if (Pending.Images.empty())
        StopListening();
    if (!Pending.Settled) {
        if (Pending.Images.empty())
            Settle();
    } else if (!stopped.empty()) {
        std::vector<NoticeLine> lines = stopped;
        lines.insert(lines.end(), mounted.begin(), mounted.end());
        ShowTrayNotice(GaveUpTitle, lines, NIIF_WARNING | NIIF_NOSOUND);
    } else if (!mounted.empty()) {
        ShowTrayNotice(MountedLaterTitle, mounted, NIIF_INFO | NIIF_NOSOUND);
    }
    RefreshTrayTip();
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
    // A name that is no file's (relative, a device) never arrives, however long one waits.
    const FailureKind kind = IsImageFilePath(path)
                                 ? ClassifyDiskFailure(code, ImageVolumePresent(path), 1)
                                 : FailureKind::Permanent;
    if (kind == FailureKind::Permanent) {
        Pending.Failed.push_back({path, kind, code});
        return false;
    }
    Pending.Images.push_back({path, kind, 1, 1, GetTickCount64(), 0});
    SetRowStatus(row, PendingStatus(kind));
    return true;
}

void StartPendingRetries() {
    const ULONGLONG now = GetTickCount64();
    Pending.WakeTime = now;
    if (Pending.Images.empty()) {
        Settle();
        RefreshTrayTip();
        return;
    }
    for (PendingImage& image : Pending.Images)
        Schedule(image, now);
    ListenForTriggers();
    SetTimer(App.MainWindow, LogonSettleTimer, LogonSettleMs, nullptr);
    ArmRetryTimer();
    RefreshTrayTip();
}

void RequestPendingPass(Trigger trigger) {
    if (Pending.Images.empty())
        return;
    if (trigger == Trigger::Wake)
        Pending.WakeTime = GetTickCount64();
    if (trigger == Trigger::NetworkChanged)
        for (PendingImage& image : Pending.Images)
            if (image.Kind == FailureKind::Network)
                image.Step = 0;
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
    std::unique_ptr<CheckJob> job(reinterpret_cast<CheckJob*>(answer));
    Pending.PassRunning = false;
    std::vector<NoticeLine> mounted, stopped;
    for (const CheckedImage& checked : job->Images) {
        PendingImage* image = FindPending(checked.Path.c_str());
        if (!image)
            continue; // the user took it over meanwhile
        const int row = FindRowByPath(checked.Path.c_str());
        if (row == -1 || GetRowHandle(row)) {
            ErasePending(checked.Path.c_str());
            continue;
        }
        switch (TryAgain(row, *image, checked, GetTickCount64())) {
        case Outcome::Mounted:
            mounted.push_back({checked.Path, nullptr});
            ErasePending(checked.Path.c_str());
            break;
        case Outcome::Stopped:
            stopped.push_back(
                {checked.Path, Reason(Pending.Failed.back().Kind, Pending.Failed.back().Code)});
            ErasePending(checked.Path.c_str());
            break;
        case Outcome::Waiting:
            break;
        }
    }
    if (Pending.PassAgain) {
        Pending.PassAgain = false;
        StartPass(true);
    }
    ArmRetryTimer();
    RefreshAfterPass(mounted, stopped);
}

bool ForgetPendingImage(const wchar_t* path) {
    std::erase_if(Pending.Failed,
                  [&](const FailedImage& image) { return SamePath(image.Path, path); });
    if (!FindPending(path))
        return false;
    ErasePending(path);
    if (Pending.Images.empty()) {
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
    ShowMountSummaryTip(marked, mounted, int(Pending.Images.size()));
}
