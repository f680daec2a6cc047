#include "msgbox_hook.h"

namespace {

BoxAnswerer* Current = nullptr;

constexpr int MessageTextId = 0xFFFF;

std::wstring WindowText(HWND window) {
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

UINT IconOf(HWND dialog) {
    // The box's icon is a static with SS_ICON; the system icons are shared per process.
    struct Known {
        LPCWSTR Id;
        UINT Flag;
    };
    static const Known known[] = {{IDI_HAND, MB_ICONERROR},
                                  {IDI_EXCLAMATION, MB_ICONWARNING},
                                  {IDI_QUESTION, MB_ICONQUESTION},
                                  {IDI_ASTERISK, MB_ICONINFORMATION}};
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        for (const Known& k : known)
            if (icon && icon == LoadIconW(nullptr, k.Id))
                return k.Flag;
    }
    return 0;
}

bool IsButton(HWND child) {
    wchar_t cls[16] = {};
    GetClassNameW(child, cls, ARRAYSIZE(cls));
    LONG type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
    return lstrcmpiW(cls, L"Button") == 0 && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

} // namespace

ShownBox ReadBox(HWND dialog) {
    ShownBox box;
    box.Caption = WindowText(dialog);
    if (HWND text = GetDlgItem(dialog, MessageTextId))
        box.Text = WindowText(text);
    box.Icon = IconOf(dialog);
    box.Owner = GetWindow(dialog, GW_OWNER);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsButton(child) || !(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE))
            continue;
        int id = GetDlgCtrlID(child);
        box.Buttons.push_back(id);
        if ((GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            box.DefaultButton = id;
    }
    return box;
}

BoxAnswerer::BoxAnswerer(std::vector<int> answers,
                         std::function<bool(HWND, const ShownBox&)> handler)
    : answers_(std::move(answers)), handler_(std::move(handler)) {
    Current = this;
    hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

BoxAnswerer::~BoxAnswerer() {
    UnhookWindowsHookEx(hook_);
    Current = nullptr;
}

LRESULT CALLBACK BoxAnswerer::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Current) {
        auto window = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16] = {};
        GetClassNameW(window, cls, ARRAYSIZE(cls));
        // Read the box once its dialog loop runs: its default button is set after activation.
        if (lstrcmpW(cls, L"#32770") == 0 && !GetPropW(window, L"tessel.answered")) {
            SetPropW(window, L"tessel.answered", reinterpret_cast<HANDLE>(1));
            Current->pending_.push_back(window);
            SetTimer(nullptr, 0, 1, AnswerPending);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK BoxAnswerer::AnswerPending(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (!Current)
        return;
    std::vector<HWND> pending;
    pending.swap(Current->pending_);
    for (HWND dialog : pending)
        if (IsWindow(dialog))
            Current->Answer(dialog);
}

void BoxAnswerer::Answer(HWND dialog) {
    ShownBox box = ReadBox(dialog);
    boxes_.push_back(box);
    if (handler_ && handler_(dialog, box))
        return;
    int answer = 0;
    size_t index = boxes_.size() - 1;
    if (index < answers_.size())
        answer = answers_[index];
    else
        answer = GetDlgItem(dialog, IDCANCEL) ? IDCANCEL : IDOK;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}
