#include "disklist/listproc.h"
#include "app/globals.h"

// Passes every message to the control's own procedure; the commands and the
// startup-flag bookkeeping arrive with the list's input handling.
LRESULT CALLBACK ListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(App.DiskListProc, window, message, wParam, lParam);
}
