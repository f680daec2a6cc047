// Runs inside tessel.exe on its window thread, called by the thread hook the probe sets.
#include "agent.h"
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

using probe::AgentBlock;

HWND OwnPopupMenu() {
    for (HWND menu = FindWindowExW(nullptr, nullptr, L"#32768", nullptr); menu;
         menu = FindWindowExW(nullptr, menu, L"#32768", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(menu, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(menu))
            return menu;
    }
    return nullptr;
}

void ReadMenu(AgentBlock* block) {
    block->ItemCount = 0;
    HWND popup = OwnPopupMenu();
    HMENU menu = popup ? reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)) : nullptr;
    const int count = menu ? GetMenuItemCount(menu) : 0;
    for (int position = 0; position < count && block->ItemCount < probe::AgentMaxItems;
         ++position) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE;
        if (!GetMenuItemInfoW(menu, position, TRUE, &info) || (info.fType & MFT_SEPARATOR))
            continue;
        probe::AgentMenuItem& item = block->Items[block->ItemCount++];
        item.Id = info.wID;
        item.State = info.fState;
        GetMenuItemRect(nullptr, menu, position, &item.Screen);
    }
}

// What the shell hands a drop target: a DROPFILES block with wide names.
void DropFiles(HWND mainWindow, const AgentBlock* block) {
    const wchar_t* end = block->Files;
    while (*end)
        end += lstrlenW(end) + 1;
    const SIZE_T chars = end - block->Files + 1;
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    if (!drop)
        return;
    auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
    header->pFiles = sizeof(DROPFILES);
    header->pt = {10, 10};
    header->fWide = TRUE;
    CopyMemory(header + 1, block->Files, chars * sizeof(wchar_t));
    GlobalUnlock(drop);
    SendMessageW(GetDlgItem(mainWindow, 1), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
}

void MeasureList(HWND mainWindow, AgentBlock* block) {
    HWND list = GetDlgItem(mainWindow, 1);
    // The image list belongs to the common controls Tessel loaded, not to a copy of the agent's.
    auto* getIconSize = reinterpret_cast<decltype(&ImageList_GetIconSize)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "ImageList_GetIconSize")));
    int height = 0;
    block->ImageSize = 0;
    if (getIconSize)
        getIconSize(ListView_GetImageList(list, LVSIL_SMALL), &block->ImageSize, &height);
    UINT i = 0;
    for (const wchar_t* text = block->Files; *text && i < probe::AgentMaxItems;
         text += lstrlenW(text) + 1)
        block->TextWidths[i++] = ListView_GetStringWidth(list, text);
}

void Serve(HWND window, WPARAM request) {
    wchar_t name[64];
    probe::AgentBlockName(GetCurrentProcessId(), name);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping)
        return;
    if (auto* block =
            static_cast<AgentBlock*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))) {
        if (request == probe::ReadMenu)
            ReadMenu(block);
        else if (request == probe::DropFiles)
            DropFiles(window, block);
        else if (request == probe::MeasureList)
            MeasureList(window, block);
        else if (request == probe::ChangeDpi)
            SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(block->Dpi, block->Dpi),
                         reinterpret_cast<LPARAM>(&block->Suggested));
        UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
}

void LogTrayCall(const COPYDATASTRUCT* call) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, probe::TrayLogName);
    if (!mapping)
        return;
    if (auto* log =
            static_cast<probe::TrayLog*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))) {
        const LONG index = InterlockedIncrement(&log->Count) - 1;
        if (index < LONG(probe::TrayLogRecords)) {
            probe::TrayRecord& record = log->Records[index];
            record.Message = DWORD(call->dwData);
            record.Bytes = call->cbData < sizeof(record.Data) ? call->cbData : sizeof(record.Data);
            CopyMemory(record.Data, call->lpData, record.Bytes);
        }
        UnmapViewOfFile(log);
    }
    CloseHandle(mapping);
}

WNDPROC TrayProcedure;

LRESULT CALLBACK LogTrayCalls(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static const UINT stop = RegisterWindowMessageW(probe::TrayLogName);
    WNDPROC procedure = TrayProcedure;
    if (message == stop) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
        TrayProcedure = nullptr;
        return 1;
    }
    if (message == WM_COPYDATA)
        LogTrayCall(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    return CallWindowProcW(procedure, window, message, wParam, lParam);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    AgentHook(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT request = RegisterWindowMessageW(probe::AgentMessageName);
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == request)
        Serve(sent->hwnd, sent->wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Put on the shell's tray window from inside the shell, so that every call is read as the
// window procedure receives it; the watch takes it off again before its hook goes.
extern "C" __declspec(dllexport) LRESULT CALLBACK TrayHook(int code, WPARAM wParam, LPARAM lParam) {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    DWORD pid = 0;
    GetWindowThreadProcessId(tray, &pid);
    if (code == HC_ACTION && !TrayProcedure && pid == GetCurrentProcessId())
        TrayProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(tray, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LogTrayCalls)));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
