#include "settings/options.h"

// Shows the dialog and closes it; reading and saving the two options comes with the dialog's own
// work.
INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(dialog, 1);
    return 0;
}
