#include "msgbox_hook.h"
#include <algorithm>

namespace {

BoxAnswerer* Current = nullptr;

std::wstring TextOf(HWND window) {
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

// The box's icon is a static with SS_ICON; the system icons are shared within a process.
UINT IconOf(HWND icon) {
    const std::pair<LPCWSTR, UINT> known[] = {{IDI_HAND, MB_ICONERROR},
                                              {IDI_EXCLAMATION, MB_ICONWARNING},
                                              {IDI_QUESTION, MB_ICONQUESTION},
                                              {IDI_ASTERISK, MB_ICONINFORMATION}};
    auto shown = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    for (auto [id, flag] : known)
        if (shown && shown == LoadIconW(nullptr, id))
            return flag;
    return 0;
}

} // namespace

BoxAnswerer::BoxAnswerer() : timer_(SetTimer(nullptr, 0, 10, OnTimer)) {
    Current = this;
}

BoxAnswerer::~BoxAnswerer() {
    KillTimer(nullptr, timer_);
    Current = nullptr;
}

void CALLBACK BoxAnswerer::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (Current)
        EnumThreadWindows(GetCurrentThreadId(), Answer, 0);
}

BOOL CALLBACK BoxAnswerer::Answer(HWND dialog, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(dialog, cls, ARRAYSIZE(cls));
    std::vector<HWND>& answered = Current->answered_;
    if (lstrcmpW(cls, L"#32770") || !IsWindowVisible(dialog) ||
        std::find(answered.begin(), answered.end(), dialog) != answered.end())
        return TRUE;
    answered.push_back(dialog);
    ShownBox box;
    box.Caption = TextOf(dialog);
    box.Text = TextOf(GetDlgItem(dialog, 0xFFFF));
    box.Owner = GetWindow(dialog, GW_OWNER);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        GetClassNameW(child, cls, ARRAYSIZE(cls));
        if (lstrcmpiW(cls, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
            box.Icon = IconOf(child);
        if (lstrcmpiW(cls, L"Button") || !(style & WS_VISIBLE) || (style & BS_TYPEMASK) > 1)
            continue;
        box.Buttons.push_back(GetDlgCtrlID(child));
    }
    Current->boxes_.push_back(box);
    int answer = GetDlgItem(dialog, IDCANCEL) ? IDCANCEL : IDOK;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return TRUE;
}
