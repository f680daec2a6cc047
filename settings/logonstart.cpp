#include "settings/logonstart.h"
#include <taskschd.h>
#include "app/globals.h"
#include "settings/store.h"

namespace {

// An administrator's logon starts the program as that user with the full token; only
// administrators can use it, so a standard user's logon starts nothing. A tray program runs for
// the whole session, on battery too, and the task must not end it after the default 72 hours.
// Parallel: the instance of the first administrator signed in must not keep a second one from
// getting theirs (the program's own mutex keeps one per session). Priority 4 is the one
// interactive level with normal I/O and memory priority; the default 7 is a background one.
constexpr wchar_t TaskXmlHead[] =
    LR"(<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Author>The Tessel Project</Author>
    <Description>Starts Tessel when an administrator logs on, with the rights it needs to attach the disk images marked for startup.</Description>
  </RegistrationInfo>
  <Triggers>
    <LogonTrigger>
      <Enabled>true</Enabled>
    </LogonTrigger>
  </Triggers>
  <Principals>
    <Principal>
      <GroupId>S-1-5-32-544</GroupId>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>
    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>
    <Priority>4</Priority>
  </Settings>
  <Actions>
    <Exec>
      <Command>)";
constexpr wchar_t TaskXmlTail[] = LR"(</Command>
    </Exec>
  </Actions>
</Task>
)";
// The one character a path may hold that XML text needs escaped.
constexpr wchar_t EscapedAmpersand[] = L"&amp;";

wchar_t* Append(wchar_t* out, const wchar_t* text) {
    while (*text)
        *out++ = *text++;
    return out;
}

UniqueBstr Bstr(const wchar_t* text) {
    return UniqueBstr(SysAllocString(text));
}

// The program's own path in quotation marks, in ModulePathBuffer; null when it does not fit.
// Unquoted, a path with blanks would let C:\Program.exe run at every logon.
const wchar_t* QuotedProgramPath() {
    wchar_t* path = App.ModulePathBuffer.get();
    // Room for both quotation marks and the terminator.
    DWORD length = GetModuleFileNameW(nullptr, path + 1, PathBufferChars - 3);
    if (length == 0 || length >= PathBufferChars - 3)
        return nullptr;
    path[0] = L'"';
    path[length + 1] = L'"';
    path[length + 2] = L'\0';
    return path;
}

// The root folder of the local Task Scheduler.
HRESULT OpenTaskRoot(UniqueCom<ITaskFolder>* root) {
    UniqueCom<ITaskService> service;
    VARIANT none{};
    HRESULT result = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ITaskService, reinterpret_cast<void**>(service.put()));
    if (SUCCEEDED(result))
        result = service->Connect(none, none, none, none);
    if (SUCCEEDED(result))
        result = service->GetFolder(Bstr(L"\\").get(), root->put());
    return result;
}

bool IsLogonTaskSet() {
    UniqueCom<ITaskFolder> root;
    UniqueCom<IRegisteredTask> task;
    return SUCCEEDED(OpenTaskRoot(&root)) &&
           SUCCEEDED(root->GetTask(Bstr(LogonTaskName).get(), task.put()));
}

HRESULT RegisterLogonTask(const wchar_t* command) {
    UniqueCom<ITaskFolder> root;
    HRESULT result = OpenTaskRoot(&root);
    if (FAILED(result))
        return result;
    UniqueBstr xml = LogonTaskXml(command);
    if (!xml)
        return E_OUTOFMEMORY;
    UniqueCom<IRegisteredTask> task;
    VARIANT none{};
    return root->RegisterTask(Bstr(LogonTaskName).get(), xml.get(), TASK_CREATE_OR_UPDATE, none,
                              none, TASK_LOGON_GROUP, none, task.put());
}

// Succeeds also when there was no task to delete.
HRESULT DeleteLogonTask() {
    UniqueCom<ITaskFolder> root;
    HRESULT result = OpenTaskRoot(&root);
    if (SUCCEEDED(result))
        result = root->DeleteTask(Bstr(LogonTaskName).get(), 0);
    return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : result;
}

} // namespace

UniqueBstr LogonTaskXml(const wchar_t* command) {
    UINT length = ARRAYSIZE(TaskXmlHead) - 1 + ARRAYSIZE(TaskXmlTail) - 1;
    for (const wchar_t* c = command; *c; ++c)
        length += *c == L'&' ? ARRAYSIZE(EscapedAmpersand) - 1 : 1;
    UniqueBstr xml(SysAllocStringLen(nullptr, length));
    if (!xml)
        return xml;
    wchar_t* out = Append(xml.get(), TaskXmlHead);
    for (const wchar_t* c = command; *c; ++c)
        out = *c == L'&' ? Append(out, EscapedAmpersand) : (*out = *c, out + 1);
    *Append(out, TaskXmlTail) = L'\0';
    return xml;
}

bool IsLogonStartSet() {
    return IsRunValueSet() || IsLogonTaskSet();
}

HRESULT SetLogonStart(bool on) {
    bool asTask = on && IsUacOn();
    const wchar_t* command = on ? QuotedProgramPath() : nullptr;
    if (on && !command)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    HRESULT task = asTask ? RegisterLogonTask(command) : DeleteLogonTask();
    // Without a task the Run value the user had is still a logon start: it stays.
    if (FAILED(task) && asTask)
        return task;
    if (on && !asTask)
        WriteRunValue(command);
    else
        DeleteRunValue();
    return task;
}
