#!/usr/bin/env python3
"""Faults a good suite catches: each row is planted in the product, the suite runs, the row is put back.

usage: faults.py [--full] [--dry] [ROW...]   (ROW: numbers from 1; none: every row)
  --full  run the whole suite per fault instead of the row's named ctest tests
  --dry   only check that each row's text occurs exactly once (else the row is stale)
A row whose planted code does not build counts as broken, not caught. Logs: build/faults/N.log.
"""
import os, signal, subprocess, sys

L, LP, LV, ST, MO, RM = ("disklist/load.cpp", "disklist/listproc.cpp", "disklist/listview.cpp",
                         "settings/store.cpp", "disklist/mount.cpp", "disklist/remove.cpp")
CM, DI, UP, LS, EI = ("disklist/compact.cpp", "dialogs/diskinfo.cpp", "update/updater.cpp",
                      "settings/logonstart.cpp", "settings/exportimport.cpp")
# file, exact text, replacement, what a good suite notices, ctest tests expected to catch it
ROWS = [
    (L, "StatusMountError);\n    SetRowStatusError(row);", "StatusMountError);", "open error without error image", "e2e_logon e2e_hostile"),
    (L, "        CloseHandle(image);\n        return false;", "        return false;", "handle kept after a failed attach at logon", "e2e_fault_sweep"),
    (L, "Skipped)\n            continue;", "Skipped) {}", "a skipped value listed as a row", "e2e_hostile"),
    (LV, "on ? ListIconStartupYes : ListIconStartupNo", "ListIconStartupYes", "unmarked row showing the startup image", "e2e_logon"),
    (LV, "checked ? 2 : 1", "checked ? 1 : 2", "check box state images swapped", "e2e_logon e2e_list"),
    (LV, "item.iItem = RowCount();", "item.iItem = 0;", "rows inserted at the top, list order reversed", "e2e_logon"),
    (LV, "item.cchTextMax = PathBufferChars;", "item.cchTextMax = MAX_PATH;", "long paths cut when a row is read", "e2e_hostile"),
    (LV, "LVFI_STRING;", "LVFI_PARTIAL;", "a name found as the start of a listed one", "e2e_list"),
    (LV, "std::max(columns.PathMin, clientWidth - columns.Status - columns.Startup)", "std::min(columns.PathMin, clientWidth - columns.Status - columns.Startup)", "path column not filling the window", "e2e_instance"),
    (LV, "return (state >> 12) != 1;", "return (state >> 12) == 2;", "row without check box image read as unchecked", "list_notify_tests"),
    ("disklist/drop.cpp", "(FindRowByPath(name) != -1)\n        return;", "(false) {}", "drop re-adding a listed name", "e2e_list e2e_hostile"),
    ("disklist/drop.cpp", "StoreNewRow(row, name);", "(void)row;", "dropped row not stored", "e2e_list"),
    ("vdisk/diskimage.cpp", "? ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY", "? ATTACH_VIRTUAL_DISK_FLAG_NONE", "ISO attached read-write", "e2e_logon"),
    ("vdisk/diskimage.cpp", "if (!App.WindowsEightOrLater)\n        return TryOpen(ProbeOrder[0], path, handle);", "", "VHDX and ISO opened before Windows 8", "e2e_logon"),
    ("vdisk/diskimage.cpp", "text, ErrorCaption, MB_ICONERROR", "text, ErrorCaption, MB_ICONWARNING", "error box with the warning icon", "app_tests"),
    ("app/startup.cpp", "version.dwMinorVersion >= 2", "version.dwMinorVersion > 2", "Windows 8 counted as older", "e2e_logon"),
    (ST, "type != REG_SZ)", "(type != REG_SZ && type != REG_EXPAND_SZ))", "REG_EXPAND_SZ taken as an image", "e2e_hostile"),
    (ST, "if (count < StringValueLimit)", "if (count <= StringValueLimit)", "write limit off by one", "store_tests"),
    (ST, "    OpenUserSettingsKey(App.UserName);\n", "", "list kept in the base key, not the user's", "e2e_logon"),
    ("app/mainwindow.cpp", "MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)\n        PostQuitMessage", "MB_ICONQUESTION) == IDYES)\n        PostQuitMessage", "Exit with Yes as the default", "e2e_instance"),
    ("app/trayicon.cpp", "++App.WindowHides));\n    AddTrayIcon();", "++App.WindowHides));", "closing hides without a tray icon", "e2e_instance"),
    ("app/mainwindow.cpp", " && !IsWindowVisible(window))", ")", "TaskbarCreated adding an icon while shown", "e2e_instance"),
    ("app/mainwindow.cpp", "{ScaleForDpi(MinTrackWidth, dpi), ScaleForDpi(MinTrackHeight, dpi)}", "{ScaleForDpi(MinTrackHeight, dpi), ScaleForDpi(MinTrackWidth, dpi)}", "minimum size swapped", "e2e_instance"),
    ("app/startup.cpp", "WM_APP_TRAY, 0, WM_LBUTTONDBLCLK", "WM_APP_TRAY, 0, WM_LBUTTONDOWN", "second start posting the wrong message", "e2e_instance"),
    ("app/startup.cpp", "    EnablePrivilege(SE_RESTORE_NAME);\n", "", "restore privilege not enabled", "e2e_instance"),
    ("app/startup.cpp", "{IDI_LIST_DISK, IDI_LIST_ERROR,", "{IDI_LIST_ERROR, IDI_LIST_DISK,", "list icons swapped", "app_tests"),
    ("app/startup.cpp", "    RemoveTrayIcon();\n    if (ImageListObject", "    if (ImageListObject", "tray icon left at exit", "app_tests e2e_instance"),
    ("disklist/contextmenu.cpp", "SetContextMenuItems();\n    if (clickedRow != -1)\n        SetCurrentRow(clickedRow);", "if (clickedRow != -1)\n        SetCurrentRow(clickedRow);\n    SetContextMenuItems();", "current row set before the menu's rules", "e2e_list"),
    ("disklist/contextmenu.cpp", "if (RowCount())\n        SetItemsForRows();", "if (RowCount() >= 0)\n        SetItemsForRows();", "empty list recomputing its items", "e2e_list"),
    (LP, "checked ? StartupFlagOn : StartupFlagOff);\n    SetRowStartup", "StartupFlagOn);\n    SetRowStartup", "flag written regardless of the check box", "e2e_list"),
    (LP, "        RemoveSelectedDisks();\n", "", "Delete key not removing", "e2e_list list_notify_tests"),
    (LP, "if (change->iItem != -1)\n            StoreStartupFlag", "StoreStartupFlag", "row -1 stored", "list_notify_tests"),
    (LP, "if (header->hwndFrom != App.DiskList)\n        return false;", "", "header notifications taken for the list's", "list_notify_tests"),
    (LP, "uNewState == 0)\n            return true;", "uNewState == 0)\n            return false;", "a new-state-0 change passed on", "list_notify_tests"),
    (LP, "SetCurrentRow(row);\n    ShowDiskInfo();", "SetCurrentRow(row);", "double-click opening no information", "e2e_diskinfo"),
    (RM, "        RemoveRow(row);\n        if (path) {\n            DeleteImageValue(path.get());", "        if (path) {\n            DeleteImageValue(path.get());\n            RemoveRow(row);", "value deleted before its row", "e2e_list"),
    (MO, "if (!ChooseImageFile() || FindRowByPath(App.PathBuffer.get()) != -1)", "if (!ChooseImageFile())", "insert re-adding a listed path", "e2e_list"),
    (MO, "    SetRowStatus(row, StatusMountError);\n    CloseHandle", "    SetRowStatus(row, StatusMountError);\n    SetRowStatusError(row);\n    CloseHandle", "failed attach on insert setting the error image", "e2e_list"),
    (MO, "|| GetRowHandle(row) ||", "||", "mount not passing over mounted rows", "e2e_list"),
    (MO, "if (App.LastDiskError != ERROR_SUCCESS)\n            continue;\n        SetRowHandle", "SetRowHandle", "Unmount All clearing a row whose detach failed", "e2e_fault_sweep"),
    (RM, "for (int row = RowCount() - 1; row >= 0; --row) {\n        if (!IsRowSelected(row))\n            continue;\n        if (HANDLE image = GetRowHandle(row)) {", "for (int row = 0; row < RowCount(); ++row) {\n        if (!IsRowSelected(row))\n            continue;\n        if (HANDLE image = GetRowHandle(row)) {", "file questions from the top row down", "e2e_list"),
    (RM, "        lstrcatW(text.get(), App.PathBuffer.get());\n", "", "delete question without the path", "e2e_list"),
    (RM, "if (!DeleteFileW(path)) {\n        SetRowStatus(row, StatusDeleteError);\n        return;\n    }", "DeleteFileW(path);", "failed file delete removing the row", "e2e_list"),
    (RM, "WriteStringValue(App.SettingsKey.get(), App.PathBuffer.get(),\n                         on ? StartupFlagOn : StartupFlagOff);\n        SetRowChecked", "SetRowChecked", "set all writing no value", "e2e_list"),
    (CM, "StatusDetachError);\n        ShowSystemError(App.LastDiskError);\n        return;", "StatusDetachError);\n        ShowSystemError(App.LastDiskError);", "compaction going on after a failed detach", "e2e_fault_sweep e2e_compact"),
    (CM, "ShowSystemError(compacted ? App.LastDiskError : compactCode);", "ShowSystemError(App.LastDiskError);", "re-attach's code shown for a failed compaction", "e2e_compact"),
    (CM, "UniqueHandle image(opened);", "struct { HANDLE h; HANDLE get() { return h; } } image{opened};", "unmounted image's handle not closed", "e2e_fault_sweep"),
    (CM, "StatusMountedCompacted);\n        return;", "StatusMountedCompacted);\n        SetRowStatusError(row);\n        return;", "error image beside a success", "e2e_compact"),
    (DI, "case 3:\n        return SubtypeDynamicText;", "case 3:\n        return SubtypeDifferencingText;", "subtype named wrongly", "e2e_diskinfo"),
    (DI, " || LOWORD(wParam) == IDCANCEL", "", "Escape not ending the information dialog", "e2e_diskinfo"),
    (DI, "if (value >> step.Shift) {", "if (value >> step.Shift > 1) {", "unit ladder moving up a step late", "diskinfo_tests"),
    (DI, "    do {\n        *--digit = wchar_t(L'0' + value % 10);\n        value /= 10;\n    } while (value);", "    while (value) {\n        *--digit = wchar_t(L'0' + value % 10);\n        value /= 10;\n    }", "FormatDecimal(0) empty", "diskinfo_tests"),
    (LS, "    path[0] = L'\"';\n", "    path[0] = L' ';\n", "Run value and task command unquoted", "e2e_menubar logonstart_tests"),
    (LS, "      <RunLevel>HighestAvailable</RunLevel>\n", "", "task without the highest rights", "logonstart_tests"),
    (LS, "    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n", "", "task ended after 72 hours", "logonstart_tests"),
    (LS, "*c == L'&' ? Append(out, EscapedAmpersand) : ", "", "\"&\" not escaped in the task", "logonstart_tests"),
    (LS, "return IsRunValueSet() || IsLogonTaskSet();", "return IsRunValueSet() && (IsLogonTaskSet() || true);", "options ignoring the logon task", "e2e_menubar"),
    (ST, "           value != 0;", "           value == 0;", "User Account Control read inverted", "e2e_menubar"),
    ("settings/options.cpp", "if (!ReadCheckForUpdate(&checkForUpdate))\n        WriteCheckForUpdate(0);", "", "CheckForUpdate not stored on opening", "e2e_menubar"),
    ("settings/options.cpp", "IDCANCEL)\n        EndDialog(dialog, 1);", "IDCANCEL) {\n        SaveOptions(dialog);\n        EndDialog(dialog, 1);\n    }", "Cancel writing the options", "e2e_menubar"),
    (EI, "L\"\\\" /y\"}", "L\"\\\"\"}", "export without /y hangs on an existing file", "e2e_menubar"),
    (EI, "&code) && code == 0;", "&code);", "\"done\" whatever reg.exe's exit code", "e2e_menubar"),
    (EI, "MB_YESNO) != IDYES)", "MB_YESNO) == 0)", "No to the import question still importing", "e2e_menubar"),
    (UP, "if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {", "{", "no COM in the update worker", "e2e_menubar"),
    (UP, "if (number > BuiltInVersion)", "if (LONG(number) > LONG(BuiltInVersion))", "signed version comparison", "e2e_menubar"),
    (UP, "return AnsweredOk(request) &&", "return (AnsweredOk(request) || true) &&", "an error page read as a version", "e2e_menubar"),
    (UP, "        SetUpdateItemState(MFS_DISABLED);\n", "", "update item not greyed while checking", "e2e_menubar"),
    (UP, "    InterlockedExchange(&App.UpdateInProgress, 0);\n", "", "update never counted as ended", "e2e_menubar"),
    ("vdisk/failurekind.cpp", "tries < AccessDeniedTries", "tries <= AccessDeniedTries", "access denied retried a third time", "vdisk_tests"),
    ("app/mainwindow.cpp", "RequestPendingPass(Trigger::VolumeArrived);", "(void)data;", "a volume's arrival not retrying the waiting rows", "e2e_logon"),
    ("app/mainwindow.cpp", " || event == NIN_BALLOONUSERCLICK", "", "a click on the balloon not opening the list", "e2e_logon"),
    ("vdisk/compactimage.cpp", "ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY | ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER", "ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER", "compaction attached read-write", "e2e_compact"),
    (LS, "<GroupId>S-1-5-32-544</GroupId>", "<GroupId>S-1-5-32-545</GroupId>", "logon task for every user", "logonstart_tests"),
    ("app/startup.cpp", "    EnablePrivilege(SE_MANAGE_VOLUME_NAME);\n", "", "volume privilege not enabled", "e2e_instance"),
    ("vdisk/virtdisk_api.cpp", "LOAD_LIBRARY_SEARCH_SYSTEM32);", "0);", "virtdisk.dll taken from beside the program", "e2e_hostile"),
    ("app/startup.cpp", "const int size = SmallIconSize(dpi);", "const int size = SmallIconSize(USER_DEFAULT_SCREEN_DPI + 0 * dpi);", "list images at 16 px whatever the scale", "e2e_instance"),
]


# scripts/test.sh without its build of everything: only the named tests' programs are rebuilt.
SUITE = ["setarch", os.uname().machine, "--addr-no-randomize", "bash", "-c",
         "source scripts/testbed.sh && trap testbed_stop EXIT && testbed_start_display && "
         "testbed_make_template && testbed_prefix faults && cd \"$BUILD_DIR\" && "
         "ctest --output-on-failure --timeout 300 \"$@\"", "faults"]
env = dict(os.environ, TESSEL_NO_ASLR="1")


def main(args):
    # A kill puts the code back too, as Ctrl-C does.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    full, dry = "--full" in args, "--dry" in args
    picked = [int(a) for a in args if a.isdigit()] or range(1, len(ROWS) + 1)
    logs = os.path.join(root, "build", "faults")
    os.makedirs(logs, exist_ok=True)
    tally = {}
    for n in picked:
        path, old, new, notice, tests = ROWS[n - 1]
        with open(os.path.join(root, path), encoding="utf-8") as f:
            original = f.read()
        if original.count(old) != 1:
            outcome = "stale"
        elif dry:
            outcome = "ok"
        else:
            with open(os.path.join(logs, f"{n}.log"), "w") as log:
                try:
                    with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                        f.write(original.replace(old, new))
                    run = lambda *cmd: subprocess.run(cmd, cwd=root, stdout=log, stderr=log, env=env).returncode
                    targets = [] if full else ["--target", *tests.split()]
                    if run("cmake", "--build", "build", "-j2", *targets):
                        outcome = "broken"
                    else:
                        only = [] if full else ["-R", "^(" + tests.replace(" ", "|") + ")$"]
                        outcome = "caught" if run(*SUITE, *only) else "MISSED"
                finally:
                    with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                        f.write(original)
        tally[outcome] = tally.get(outcome, 0) + 1
        print(f"{n:3} {outcome:7} {path}: {notice} [{'all' if full else tests}]", flush=True)
    print(", ".join(f"{v} {k}" for k, v in sorted(tally.items())), f"of {len(picked)}")
    return 0 if set(tally) <= {"caught", "ok"} else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
