#include "dialogs/about.h"
#include "app/elevation.h"
#include "resources/resource.h"
#include <commctrl.h>

namespace {

// Only a click opens a link: Enter on a focused link does nothing.
void OnLinkClicked(UINT_PTR control) {
    if (control == IDC_DONATION_LINK)
        OpenAsUser(TESSEL_DONATION_URL);
    else if (control == IDC_SUPPORT_LINK)
        OpenAsUser(L"mailto:" TESSEL_SUPPORT_EMAIL);
}

} // namespace

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(dialog, 1);
    else if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == NM_CLICK)
        OnLinkClicked(reinterpret_cast<const NMHDR*>(lParam)->idFrom);
    return 0;
}
