// Starting Tessel at every user's logon. Where User Account Control is on, an administrator's
// Run entry would start it with the filtered token, which may neither write HKLM nor attach
// disks; a Task Scheduler task with the highest run level starts it with the full token.
#pragma once
#include "app/unique_any.h"

constexpr wchar_t LogonTaskName[] = L"Tessel";

// Either form counts: the Run value or the task.
bool IsLogonStartSet();
// On registers the form that fits the system and removes the other; off removes both.
// The Task Scheduler's failure, if any: a task that cannot be registered leaves the Run value
// as it was. Registry writes that fail are not reported.
HRESULT SetLogonStart(bool on);

// The task's definition in Task Scheduler XML; command is the quoted program path.
UniqueBstr LogonTaskXml(const wchar_t* command);
