#include "settings/options.h"
#include "resources/resource.h"
#include "settings/logonstart.h"
#include "settings/store.h"
#include "vdisk/diskimage.h"

namespace {

void ShowOptions(HWND dialog) {
    CheckDlgButton(dialog, IDC_RUN_AT_STARTUP, IsLogonStartSet() ? BST_CHECKED : BST_UNCHECKED);
    DWORD checkForUpdate = 0;
    if (!ReadCheckForUpdate(&checkForUpdate))
        WriteCheckForUpdate(0);
    CheckDlgButton(dialog, IDC_CHECK_UPDATES, checkForUpdate ? BST_CHECKED : BST_UNCHECKED);
}

HRESULT SaveOptions(HWND dialog) {
    HRESULT logonStart =
        SetLogonStart(IsDlgButtonChecked(dialog, IDC_RUN_AT_STARTUP) != BST_UNCHECKED);
    WriteCheckForUpdate(IsDlgButtonChecked(dialog, IDC_CHECK_UPDATES) != BST_UNCHECKED ? 1 : 0);
    return logonStart;
}

// The system's message table knows Win32 codes by themselves, not always as HRESULTs.
DWORD SystemCode(HRESULT result) {
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : DWORD(result);
}

} // namespace

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG)
        ShowOptions(dialog);
    else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        HRESULT saved = SaveOptions(dialog);
        // The box answers the OK, once the dialog is gone.
        EndDialog(dialog, 1);
        if (FAILED(saved))
            ShowSystemError(SystemCode(saved));
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, 1);
    return 0;
}
