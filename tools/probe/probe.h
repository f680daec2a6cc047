// Drives a running tessel.exe from outside, as a user or the shell would: finds its
// window and list, reads the rows across the process boundary, posts the private
// messages, answers its message boxes, and watches it end.
#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>
#include <vector>

#include "agent.h"
#include "app/globals.h"
#include "resources/resource.h"

namespace probe {

constexpr const wchar_t* TesselClass = AppGuid;
constexpr const wchar_t* TesselTitle = MainWindowTitle;
constexpr UINT QuitRequest = WM_APP_QUIT;
constexpr UINT TrayCallback = WM_APP_TRAY;
constexpr int ListId = IDC_DISKLIST;

// One list row as the live control holds it.
struct Row {
    std::wstring Path;
    std::wstring Status;
    std::wstring Startup;
    int CheckState = -1; // state image index: 1 unchecked, 2 checked
    int PathImage = -1;
    int StatusImage = -1;
    int StartupImage = -1;
    LPARAM Handle = 0; // item data: the attached image's handle, or 0
};

struct BoxButton {
    int Id = 0;
    std::wstring Text;
    bool Default = false;
    HWND Window = nullptr;
};

// A top-level dialog (#32770) of the target process.
struct Box {
    HWND Window = nullptr;
    std::wstring Caption;
    std::wstring Text; // static 0xFFFF, the message box's text
    std::vector<BoxButton> Buttons;
};

// A Unix path (as CMake and the scripts name files) in a form Windows calls accept.
std::wstring WindowsPath(const std::wstring& path);
// tessel.exe as TESSEL_EXE names it, else the build's copy two folders above this program.
std::wstring TesselExe();
std::wstring GetEnv(const wchar_t* name);

class Target {
  public:
    Target() = default;
    ~Target();
    Target(Target&& other) noexcept;
    Target& operator=(Target&& other) noexcept;
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // Starts exe with no arguments, as the Run key does.
    bool Launch(const std::wstring& exe, std::wstring* error = nullptr);
    // Takes hold of an instance that is already running (found by its main window).
    bool Attach(DWORD timeoutMs);

    // Start-up has finished: the message loop waits for input (WaitForInputIdle), the
    // main window and its list exist, and the window's thread runs at idle priority.
    bool WaitIdle(DWORD timeoutMs);
    bool Running() const;
    // Waits for the process to end; false on timeout.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    void Kill();

    HWND Window() const { return window_; }
    HWND List() const { return list_; }
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }

    // The handles the process holds now, from the system's handle table (Wine answers
    // GetProcessHandleCount with 0); -1 when the table cannot be read.
    int HandleCount() const;
    // The window still handles a message within the time.
    bool Answers(DWORD timeoutMs) const;

    int RowCount() const;
    // Every row; false when the list cannot be read.
    bool ReadRows(std::vector<Row>* rows) const;
    std::vector<Row> Rows() const;
    // The list's column titles, left to right.
    std::vector<std::wstring> ColumnTitles() const;

    // The user-interface thread's priority.
    bool SetPriority(int priority) const;
    int Priority() const;

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) const;
    // The shell's double-click on the tray icon.
    bool PostTrayDoubleClick() const { return Post(TrayCallback, 0, WM_LBUTTONDBLCLK); }
    bool PostQuitRequest() const { return Post(QuitRequest, 0, 0); }
    // The shell accepts a change to an icon only while it holds one for (window, 0).
    bool TrayIconPresent() const;
    bool WindowVisible() const { return window_ && IsWindowVisible(window_); }
    // Brings the window to the front and types one chord: the keys pressed in order, then
    // released in reverse, as the keyboard sends them.
    bool PressKeys(std::initializer_list<WORD> keys) const;
    // Brings the window to the front and clicks the left (or right) button at a point of one
    // of its windows (client coordinates), as the mouse does.
    bool Click(HWND window, POINT at, bool right = false) const;
    // Selects exactly these rows, the last one focused, as Ctrl+clicks would. Wine may drop
    // a modifier key sent with SendInput, so this goes through the list's own messages.
    bool Select(const std::vector<int>& rows) const;
    // The middle of a row's path text and of its check box, in list coordinates.
    POINT RowPoint(int row) const;
    POINT CheckBoxPoint(int row) const;
    // Types text into whatever has the keyboard focus, then presses Enter.
    bool TypeLine(const std::wstring& text) const;

    // The items of the context menu while it is open, read inside the process (the agent);
    // waits for the menu to open. Separators are left out.
    bool WaitMenu(DWORD timeoutMs, std::vector<AgentMenuItem>* items);
    // Clicks an item of the open menu, as the mouse does.
    bool ChooseMenuItem(UINT id);
    // Escape, and waits until the menu is gone.
    bool CloseMenu();
    // What the shell does when files are dropped on the list: WM_DROPFILES with a drop handle
    // made in the process. Returns when the list has handled it.
    bool Drop(const std::vector<std::wstring>& files);

    // Read inside the process: the size of the list's small images and the width of each text
    // in the list's font; false when the agent does not answer.
    bool MeasureList(const std::vector<std::wstring>& texts, int* imageSize,
                     std::vector<int>* widths);
    // What Windows sends when the window moves to a monitor of another scale; returns when
    // the window has handled it.
    bool ChangeDpi(UINT dpi, const RECT& suggested);
    // Column widths, left to right.
    std::vector<int> ColumnWidths() const;

    std::vector<Box> Boxes() const;
    // Waits until the process shows a dialog; false on timeout.
    bool WaitBox(DWORD timeoutMs, Box* box) const;

  private:
    bool FindWindows();
    void Close();
    bool AskAgent(WPARAM request, AgentBlock* block);
    HWND OpenMenuWindow() const;
    bool ItemRect(int row, int part, RECT* rect) const;

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HHOOK agentHook_ = nullptr;
};

// One Shell_NotifyIcon call as the shell received it.
struct TrayCall {
    DWORD Message = 0; // NIM_
    UINT Flags = 0;    // NIF_
    std::wstring Tip, Info, InfoTitle;
    DWORD InfoFlags = 0; // NIIF_
};

// Logs what the shell's tray window receives from the moment it is made (a Tessel started
// later is seen from its first icon on) until it is destroyed.
class TrayWatch {
  public:
    TrayWatch();
    ~TrayWatch();
    TrayWatch(const TrayWatch&) = delete;
    TrayWatch& operator=(const TrayWatch&) = delete;
    bool Watching() const { return hook_ != nullptr; }
    // The calls for this window's icon so far, in order.
    std::vector<TrayCall> Calls(HWND owner) const;

  private:
    HANDLE mapping_ = nullptr;
    TrayLog* log_ = nullptr;
    HHOOK hook_ = nullptr;
};

// What the system broadcasts when volumes arrive (DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME).
bool BroadcastVolumeArrival(DWORD unitMask);

// The text of a dialog's control.
std::wstring ControlText(HWND dialog, int id);
// Clicks the button with this id.
bool PressButton(const Box& box, int id);
// A click at a point of the screen, as the mouse sends it: to whatever window is there.
bool ClickScreen(POINT at, bool right = false);
// Polls condition every 10 ms until it holds or the time is up; returns its last value.
template <typename Condition> bool WaitFor(DWORD timeoutMs, Condition condition) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(10);
    }
}

// Ends every tessel.exe of this Wine prefix that a failed test may have left behind.
int KillStrayTessels();

std::wstring Describe(const Row& row);
std::wstring Describe(const std::vector<Row>& rows);
std::string Narrow(const std::wstring& text);

} // namespace probe
