// The contract: what users and other programs rely on, fixed word for word. The registry
// names, the private messages, the texts users read, and the ids and texts of the menus,
// accelerators and dialogs as compiled into this program (the information dialog's caption
// is read end to end). A change here is a change of contract, never a refactoring.
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "disklist/listview.h"
#include "helpers.h"
#include "probe.h"
#include "settings/exportimport.h"
#include "settings/logonstart.h"
#include "settings/store.h"
#include "update/updater.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

TEST(Contract, NamesAndTexts) {
    const std::pair<const wchar_t*, const wchar_t*> texts[] = {
        {AppGuid, L"{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"},
        {MainWindowTitle, L"Tessel"},
        {BaseKeyPath, L"SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"},
        {RunKeyPath, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {RunValueName, L"{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"},
        {CheckForUpdateName, L"CheckForUpdate"},
        {LogonTaskName, L"Tessel"},
        {SystemPolicyKeyPath, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"},
        {EnableLuaName, L"EnableLUA"},
        {StartupFlagOn, L"+"},
        {StartupFlagOff, L"-"},
        {ExitQuestion,
         L"Are you sure want to exit ?\r\nNote, all mounted disk's will be unmounted."},
        {QuestionCaption, L"Question"},
        {ErrorCaption, L"Error"},
        {AdministratorMessage, L"Error creating registry key under HKEY_LOCAL_MACHINE.\r\n"
                               L"You must install this program with administrative privileges."},
        {TrayTipText, L"Double-click to open Tessel Window"},
        {UpdateRunningMessage, L"Update already in progress ..."},
        {InformationCaption, L"Iformation"},
        {NewVersionMessage, L"New version available !\r\nPlease uninstall old version\r\n"
                            L"before install new version.\r\n\r\nNow will start your browser ..."},
        {VersionCaption, L"Version information"},
        {ConnectionErrorMessage,
         L"Error getting version information.\r\nCheck your internet connection."},
        {ExportDoneMessage, L"Exporting setting's done"},
        {ExportErrorMessage, L"Exporting setting's error"},
        {ImportQuestion, L"Are you sure want to import setting's ?\r\n"
                         L"Note: All your current setting's will be rewrited."},
        {ImportDoneMessage, L"Importing setting's done.\r\nPlease, restart program."},
        {ImportErrorMessage, L"Importing setting's error"},
        {DoneCaption, L"Successfull"},
        {ConfirmationCaption, L"Confirmation"},
        {StatusMounted, L"Mounted"},
        {StatusUnmounted, L"Unmounted"},
        {StatusMountError, L"Mount error"},
        {StatusOpenError, L"Error open VHD"},
        {StatusUnmountError, L"Error unmount disk"},
        {StatusCloseError, L"Unmounted, but closing handle error"},
        {StatusDeleteError, L"Error delete VHD file"},
        {StartupYesText, L"Yes, mount at Windows startup"},
        {StartupNoText, L"No, don't mount at Windows startup"},
        {PathColumnTitle, L"Virtual disk file name"},
        {StatusColumnTitle, L"Status"},
        {StartupColumnTitle, L"Mount at startup"},
    };
    for (auto [actual, fixed] : texts)
        EXPECT_STREQ(fixed, actual);
    EXPECT_EQ(1025u, WM_APP_QUIT) << "the quit request";
    EXPECT_EQ(1124u, WM_APP_TRAY) << "the tray callback";
}

enum Kind { Popup, Item, Accelerator, Dialog };

struct Resource {
    Kind Kind;
    int Id;   // menu, accelerator table or dialog
    int Item; // popup position, command, or control (0: the dialog's caption)
    const wchar_t* Text;
};

// Cyrillic letters that look like "OK".
#define OK_TEXT L"\x041E\x041A"

const Resource Resources[] = {
    {Popup, 109, 0, L"&File"},
    {Item, 109, 32783, L"&Options ..."},
    {Item, 109, 32788, L"Check for &Updates ..."},
    {Item, 109, 32809, L"Export settings ..."},
    {Item, 109, 32810, L"Import settings ..."},
    {Item, 109, 105, L"&Exit"},
    {Popup, 109, 1, L"&Help"},
    {Item, 109, 32785, L"&Donate project"},
    {Item, 109, 104, L"&About ..."},
    {Item, 129, 32778, L"&Insert and Mount Virtual Disk ..."},
    {Item, 129, 32779, L"&Mount ..."},
    {Item, 129, 32780, L"&Unmount"},
    {Item, 129, 32816, L"Virtual Disk &Information ..."},
    {Item, 129, 32794, L"Mount All Disk's"},
    {Item, 129, 32795, L"Unmount All Disk's"},
    {Item, 129, 32790, L"Compact Virtual Disk's ..."},
    {Item, 129, 32799, L"Compact All Virtual Disk's (may be long time !)"},
    {Item, 129, 32819, L"Delete VHD from disk ..."},
    {Item, 129, 32803, L"Set \"Mount All at Windows starts ...\""},
    {Item, 129, 32804, L"Set \"Don't Mount All at Windows starts ...\""},
    {Item, 129, 32800, L"Unmount All Virtual Disk's and &Exit"},
    {Accelerator, 109, 104, L"Alt+?"},
    {Accelerator, 109, 104, L"Alt+/"},
    {Dialog, 103, 0, L"About Tessel"},
    {Dialog, 103, -1, L"Tessel version 2.5"},
    {Dialog, 103, -1,
     L"Your donation will help the project to improve and add new functions and file formats."},
    {Dialog, 103, -1, L"If you like this program, please make"},
    {Dialog, 103, -1, L"Questions and support:"},
    {Dialog, 103, 1, OK_TEXT},
    {Dialog, 131, 0, L"Tessel options"},
    {Dialog, 131, 1001, L"Run Tessel at Windows starts"},
    {Dialog, 131, 1002, L"Check for program updates at startup"},
    {Dialog, 131, 1, OK_TEXT},
    {Dialog, 131, 2, L"Cancel"},
    {Dialog, 138, 1, OK_TEXT},
    {Dialog, 138, -1, L"Virtual size:"},
    {Dialog, 138, -1, L"Physical size:"},
    {Dialog, 138, -1, L"Block size "},
    {Dialog, 138, -1, L"Sector size:"},
    {Dialog, 138, -1, L"Provider-specific subtype:"},
    {Dialog, 138, 1009, L"bytes"},
    {Dialog, 138, 1010, L"bytes"},
    {Dialog, 138, 1011, L"bytes"},
    {Dialog, 138, 1012, L"bytes"},
};

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// Whether the compiled resource shows the text at the id.
bool Shows(const Resource& r) {
    HINSTANCE self = GetModuleHandleW(nullptr);
    wchar_t text[256] = {};
    if (r.Kind == Popup || r.Kind == Item) {
        HMENU menu = LoadMenuW(self, MAKEINTRESOURCEW(r.Id));
        GetMenuStringW(menu, r.Item, text, 256, r.Kind == Popup ? MF_BYPOSITION : MF_BYCOMMAND);
        DestroyMenu(menu);
        return lstrcmpW(text, r.Text) == 0;
    }
    if (r.Kind == Accelerator) {
        ACCEL entries[8];
        HACCEL table = LoadAcceleratorsW(self, MAKEINTRESOURCEW(r.Id));
        return std::ranges::any_of(entries, entries + CopyAcceleratorTableW(table, entries, 8),
                                   [&](const ACCEL& e) {
                                       return e.cmd == r.Item && (e.fVirt & 0x7F) == FALT &&
                                              r.Text == std::wstring(L"Alt+") + wchar_t(e.key);
                                   });
    }
    HWND dialog = CreateDialogParamW(self, MAKEINTRESOURCEW(r.Id), nullptr, QuietDialog, 0);
    GetWindowTextW(dialog, text, 256);
    bool found = r.Item == 0 && lstrcmpW(text, r.Text) == 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child && !found;
         child = GetWindow(child, GW_HWNDNEXT)) {
        GetWindowTextW(child, text, 256);
        found = LOWORD(GetDlgCtrlID(child)) == LOWORD(r.Item) && lstrcmpW(text, r.Text) == 0;
    }
    DestroyWindow(dialog);
    return found;
}

TEST(Contract, MenusAcceleratorsAndDialogs) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    for (const Resource& r : Resources)
        EXPECT_TRUE(Shows(r)) << "resource " << r.Id << " item " << r.Item << ": \""
                              << Narrow(r.Text) << "\"";
}

TEST(Contract, ManifestAsksHighestAvailableAndCommonControlsSix) {
    // As built into the program itself.
    HMODULE program = LoadLibraryExW(probe::TesselExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    std::string xml(static_cast<const char*>(LockResource(LoadResource(program, found))),
                    SizeofResource(program, found));
    for (const char* part :
         {"level=\"highestAvailable\"", "uiAccess=\"false\"",
          "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
          ">true/pm</dpiAware>", ">PerMonitorV2</dpiAwareness>",
          "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(std::string::npos, xml.find(part)) << part;
    // Vista to 10 and 11, so that every system reports its own version.
    size_t systems = 0;
    for (size_t at = xml.find("<supportedOS"); at != std::string::npos;
         at = xml.find("<supportedOS", at + 1))
        ++systems;
    EXPECT_EQ(5u, systems);
}

} // namespace
