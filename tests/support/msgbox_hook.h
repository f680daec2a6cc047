// Answers the modal boxes and dialogs that the code under test shows on this thread,
// recording what each showed. No seam in production code: a WH_CBT hook sees the
// dialog window activate and posts the chosen button.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

struct ShownBox {
    std::wstring Caption;
    std::wstring Text; // the message box's text (static 0xFFFF); empty for other dialogs
    UINT Icon = 0;     // MB_ICONERROR, MB_ICONWARNING, MB_ICONQUESTION, MB_ICONINFORMATION or 0
    std::vector<int> Buttons; // command ids of the visible push buttons, in child order
    int DefaultButton = 0;
    HWND Owner = nullptr;
};

class BoxAnswerer {
  public:
    // Presses answers[i] in the i-th box; once they run out, presses IDCANCEL (or IDOK
    // when the box has no Cancel). A handler, when given, runs first and may act on the
    // live dialog itself (return true to skip pressing a button).
    explicit BoxAnswerer(std::vector<int> answers = {},
                         std::function<bool(HWND, const ShownBox&)> handler = nullptr);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    const std::vector<ShownBox>& Boxes() const { return boxes_; }

  private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK AnswerPending(HWND, UINT, UINT_PTR timer, DWORD);
    void Answer(HWND dialog);

    HHOOK hook_ = nullptr;
    std::vector<int> answers_;
    std::function<bool(HWND, const ShownBox&)> handler_;
    std::vector<ShownBox> boxes_;
    std::vector<HWND> pending_;
};

// Reads a dialog window as a box (used by the hook, and by tests that walk dialogs).
ShownBox ReadBox(HWND dialog);
