// Answers and records the modal boxes shown on this thread: a thread timer fires inside the box's
// own message loop, reads the box and presses a button. No seam in the product code.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct ShownBox {
    std::wstring Caption;
    std::wstring Text; // the message box's text (static 0xFFFF); empty for other dialogs
    UINT Icon = 0;     // MB_ICONERROR, MB_ICONWARNING, MB_ICONQUESTION, MB_ICONINFORMATION or 0
    std::vector<int> Buttons; // command ids of the visible push buttons, in child order
    HWND Owner = nullptr;
};

class BoxAnswerer {
  public:
    // Presses IDCANCEL in each box, IDOK in one without Cancel.
    BoxAnswerer();
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    const std::vector<ShownBox>& Boxes() const { return boxes_; }

  private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    static BOOL CALLBACK Answer(HWND window, LPARAM);

    UINT_PTR timer_;
    std::vector<ShownBox> boxes_;
    std::vector<HWND> answered_;
};
