#include "settings/options.h"
#include "resources/resource.h"
#include "settings/logonstart.h"
#include "settings/store.h"

namespace {

void ShowOptions(HWND dialog) {
    CheckDlgButton(dialog, IDC_RUN_AT_STARTUP, IsLogonStartSet() ? BST_CHECKED : BST_UNCHECKED);
    DWORD checkForUpdate = 0;
    if (!ReadCheckForUpdate(&checkForUpdate))
        WriteCheckForUpdate(0);
    CheckDlgButton(dialog, IDC_CHECK_UPDATES, checkForUpdate ? BST_CHECKED : BST_UNCHECKED);
}

void SaveOptions(HWND dialog) {
    SetLogonStart(IsDlgButtonChecked(dialog, IDC_RUN_AT_STARTUP) != BST_UNCHECKED);
    WriteCheckForUpdate(IsDlgButtonChecked(dialog, IDC_CHECK_UPDATES) != BST_UNCHECKED ? 1 : 0);
}

} // namespace

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG)
        ShowOptions(dialog);
    else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        SaveOptions(dialog);
        EndDialog(dialog, 1);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, 1);
    return 0;
}
