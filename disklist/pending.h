// Marked images whose logon mount failed for a reason that passes (a late drive, a file held
// for a moment, a network not up yet): tried again, one at a time in row order, whenever what
// they wait for may have come, until they mount, give up, or the user takes over.
#pragma once
#include <windows.h>
#include "vdisk/failurekind.h"

// What a pending row shows; no error image while it waits.
constexpr wchar_t StatusWaitingForDrive[] = L"Waiting for its drive";
constexpr wchar_t StatusInUseRetrying[] = L"In use, retrying";
constexpr wchar_t StatusWaitingForNetwork[] = L"Waiting for the network";

// Timers of the main window.
constexpr UINT_PTR RetryTimer = 20;       // the next timed try is due
constexpr UINT_PTR TriggerTimer = 21;     // a trigger's debounce is over
constexpr UINT_PTR LogonSettleTimer = 22; // the logon mount has had its minute

// Private messages of the main window.
constexpr UINT WM_APP_PENDING_CHECKED = WM_APP + 20; // lParam: the worker's answer
constexpr UINT WM_APP_NETWORK_CHANGED = WM_APP + 21;

constexpr DWORD TriggerDebounceMs = 1000;
constexpr DWORD LogonSettleMs = 60 * 1000;
// Busy and network images stop being tried after this; a late drive is waited for all session.
constexpr ULONGLONG GiveUpAfterMs = 30 * 60 * 1000;
// Waiting for a drive: checked often for this long after logon, resume or unlock, then rarely.
constexpr ULONGLONG FastPhaseMs = 2 * 60 * 1000;

// The wait before the next timed try. step: tries so far of this kind of failure (1 after the
// first), counted again from 1 after a network change; sinceWake: time since logon, resume or
// unlock.
DWORD RetryDelayMs(FailureKind kind, unsigned step, ULONGLONG sinceWakeMs);

enum class Trigger { VolumeArrived, NetworkChanged, Wake };

// The load's outcome for one marked image that failed: pending unless the failure is permanent.
// Returns whether the row is now pending (it then shows what it waits for).
bool NoteLogonFailure(int row, const wchar_t* path, DWORD code);
// After the load: starts the retries, or when nothing waits, settles the logon mount at once.
void StartPendingRetries();

void RequestPendingPass(Trigger trigger);
// Timers of other ids are left alone.
void OnPendingTimer(UINT_PTR id);
void OnPendingChecked(LPARAM answer);

// The user took over the image (unmount, uncheck, removal, a mount by hand): no more tries and
// nothing more said about it. True when it was pending.
bool ForgetPendingImage(const wchar_t* path);
// Reads the row's path into PathBuffer.
bool IsRowPending(int row);
// The tray tooltip: how many marked images are mounted, while any is not.
void RefreshTrayTip();
