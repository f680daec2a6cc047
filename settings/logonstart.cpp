#include "settings/logonstart.h"
#include <taskschd.h>
#include "app/globals.h"
#include "settings/store.h"

namespace {

// Any user's logon starts the program as that user, with the highest rights the user has
// (Users holds every interactive user). A tray program runs for the whole session, on battery
// too, and once: the task must not end it after the default 72 hours.
constexpr wchar_t TaskXmlHead[] =
    LR"(<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <Triggers>
    <LogonTrigger>
      <Enabled>true</Enabled>
    </LogonTrigger>
  </Triggers>
  <Principals>
    <Principal>
      <GroupId>S-1-5-32-545</GroupId>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>
    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>
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

// The root folder of the local Task Scheduler; null when the service cannot be reached.
UniqueCom<ITaskFolder> OpenTaskRoot() {
    UniqueCom<ITaskService> service;
    UniqueCom<ITaskFolder> root;
    VARIANT none{};
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskService, reinterpret_cast<void**>(service.put()))) &&
        SUCCEEDED(service->Connect(none, none, none, none)))
        service->GetFolder(Bstr(L"\\").get(), root.put());
    return root;
}

bool IsLogonTaskSet() {
    UniqueCom<ITaskFolder> root = OpenTaskRoot();
    UniqueCom<IRegisteredTask> task;
    return root && SUCCEEDED(root->GetTask(Bstr(LogonTaskName).get(), task.put()));
}

bool RegisterLogonTask(const wchar_t* command) {
    UniqueCom<ITaskFolder> root = OpenTaskRoot();
    UniqueBstr xml = LogonTaskXml(command);
    UniqueCom<IRegisteredTask> task;
    VARIANT none{};
    return root && xml &&
           SUCCEEDED(root->RegisterTask(Bstr(LogonTaskName).get(), xml.get(), TASK_CREATE_OR_UPDATE,
                                        none, none, TASK_LOGON_GROUP, none, task.put()));
}

// True also when there was no task to delete.
bool DeleteLogonTask() {
    UniqueCom<ITaskFolder> root = OpenTaskRoot();
    if (!root)
        return false;
    HRESULT result = root->DeleteTask(Bstr(LogonTaskName).get(), 0);
    return SUCCEEDED(result) || result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
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

bool SetLogonStart(bool on) {
    bool asTask = on && IsUacOn();
    const wchar_t* command = on ? QuotedProgramPath() : nullptr;
    if (on && !command)
        return false;
    bool task = asTask ? RegisterLogonTask(command) : DeleteLogonTask();
    bool run = on && !asTask ? WriteRunValue(command) : DeleteRunValue();
    return task && run;
}
