#include "settings/exportimport.h"
#include "app/globals.h"
#include "app/startup.h"
#include "settings/store.h"
#include <commdlg.h>
#include <initializer_list>

namespace {

constexpr DWORD ExportFlags = OFN_EXPLORER | OFN_LONGNAMES | OFN_ENABLESIZING;
constexpr DWORD ImportFlags = ExportFlags | OFN_FILEMUSTEXIST;

bool ChooseFile(DWORD flags) {
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = App.DiskList;
    dialog.lpstrFilter = L"Registry files\0*.reg\0";
    dialog.lpstrFile = App.PathBuffer.get();
    dialog.lpstrFile[0] = L'\0';
    dialog.nMaxFile = PathBufferChars;
    dialog.lpstrDefExt = L"reg";
    dialog.Flags = flags;
    return flags == ExportFlags ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
}

// Runs the system's own reg.exe, never one found first in the search order, and waits for
// it: only its exit code tells whether the settings moved.
bool RunRegistryTool(const wchar_t* parameters) {
    wchar_t tool[MAX_PATH];
    UINT length = GetSystemDirectoryW(tool, MAX_PATH - 9);
    if (length == 0 || length >= MAX_PATH - 9)
        return false;
    lstrcatW(tool, L"\\reg.exe");
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof(run);
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = L"open";
    run.lpFile = tool;
    run.lpParameters = parameters;
    run.nShow = SW_HIDE;
    if (!ShellExecuteExW(&run) || !run.hProcess)
        return false;
    UniqueHandle process(run.hProcess);
    DWORD code = 1;
    if (WaitForSingleObject(process.get(), ToolTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return false;
    }
    return GetExitCodeProcess(process.get(), &code) && code == 0;
}

// The tool's parameters are the parts one after the other; the chosen path is one of them.
void RunTool(std::initializer_list<const wchar_t*> parts, const wchar_t* done,
             const wchar_t* failed) {
    UniqueHeapText parameters(static_cast<wchar_t*>(
        HeapAlloc(GetProcessHeap(), 0, ToolParameterChars * sizeof(wchar_t))));
    if (!parameters) {
        MessageBoxW(nullptr, MemoryErrorMessage, ErrorCaption, MB_OK);
        return;
    }
    parameters.get()[0] = L'\0';
    for (const wchar_t* part : parts)
        lstrcatW(parameters.get(), part);
    bool ok = RunRegistryTool(parameters.get());
    parameters.reset();
    if (ok)
        MessageBoxW(nullptr, done, DoneCaption, MB_OK);
    else
        MessageBoxW(nullptr, failed, ErrorCaption, MB_OK);
}

} // namespace

void ExportSettings() {
    if (!ChooseFile(ExportFlags))
        return;
    // Quoted, as a path may hold blanks; /y: the save dialog has chosen the file, and
    // without it the hidden tool asks forever whether to overwrite it.
    RunTool({L" export ", BaseKeyFullName, L" \"", App.PathBuffer.get(), L"\" /y"},
            ExportDoneMessage, ExportErrorMessage);
}

void ImportSettings() {
    if (!ChooseFile(ImportFlags))
        return;
    if (MessageBoxW(nullptr, ImportQuestion, ConfirmationCaption, MB_YESNO) != IDYES)
        return;
    RunTool({L" import \"", App.PathBuffer.get(), L"\""}, ImportDoneMessage, ImportErrorMessage);
}
