// The probe's agent: a DLL that a thread hook loads into tessel.exe, for what only a call
// inside the process can do under Wine (a menu is unreadable from another process) or what
// must carry memory of that process (the drop handle of WM_DROPFILES). The probe asks by
// sending AgentMessageName to the main window; the answer is in the shared block when the
// send returns.
#pragma once
#include <windows.h>

namespace probe {

constexpr wchar_t AgentMessageName[] = L"TesselProbeAgent";
constexpr wchar_t AgentHookName[] = L"AgentHook";
constexpr UINT AgentMaxItems = 32;
// Room for a drop of 10,000 long names.
constexpr UINT AgentMaxFileChars = 1 << 20;

enum AgentRequest : WPARAM { ReadMenu = 1, DropFiles = 2, MeasureList = 3, ChangeDpi = 4 };

struct AgentMenuItem {
    UINT Id;
    UINT State; // MFS_ flags
    RECT Screen;
};

struct AgentBlock {
    UINT ItemCount;
    AgentMenuItem Items[AgentMaxItems];
    // MeasureList: the size of the list's small images, and the width of each text of Files in
    // the list's font (LVM_GETSTRINGWIDTHW).
    int ImageSize;
    int TextWidths[AgentMaxItems];
    // ChangeDpi: WM_DPICHANGED to the main window with this DPI and suggested rectangle.
    UINT Dpi;
    RECT Suggested;
    // DropFiles and MeasureList: texts, each ended by a null, the list by a second one.
    wchar_t Files[AgentMaxFileChars];
};

// The shell's side of the notification area: a hook on the thread of Wine's "Shell_TrayWnd"
// logs every Shell_NotifyIcon call as that window receives it (WM_COPYDATA: the call in
// dwData, shell32's packed record in the data).
constexpr wchar_t TrayLogName[] = L"Local\\TesselProbeTray";
constexpr wchar_t TrayHookName[] = L"TrayHook";
constexpr UINT TrayLogRecords = 256;
constexpr UINT TrayRecordBytes = 1024;

struct TrayRecord {
    DWORD Message; // NIM_
    DWORD Bytes;
    BYTE Data[TrayRecordBytes];
};

struct TrayLog {
    volatile LONG Count;
    TrayRecord Records[TrayLogRecords];
};

// Names the block of one Tessel process.
inline void AgentBlockName(DWORD pid, wchar_t (&name)[64]) {
    wsprintfW(name, L"Local\\TesselProbeAgent-%lu", pid);
}

} // namespace probe
