// List notifications no user action shows from outside: which are kept from the control, no flag
// stored for a row that is none, and the flag of a row without a check box image.
#include "app/globals.h"
#include "disklist/listproc.h"
#include "disklist/listview.h"
#include "helpers.h"
#include "settings/store.h"
#include <gtest/gtest.h>
#include <commctrl.h>

namespace {

constexpr wchar_t ScratchKey[] = L"Software\\TesselListNotifyTest";
constexpr wchar_t Image[] = L"C:\\absent\\a.vhd";
WNDPROC ControlProc = nullptr;
int ReachedControl = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ReachedControl += message == WM_NOTIFY;
    return CallWindowProcW(ControlProc, window, message, wParam, lParam);
}

TEST(ListNotifications, KeptFromTheControlOrPassedOn) {
    App.SettingsKey.reset(CreateKey(HKEY_CURRENT_USER, ScratchKey));
    App.PathBuffer.reset(
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, PathBufferChars * sizeof(wchar_t))));
    App.DiskList = CreateWindowExW(0, WC_LISTVIEWW, nullptr, WS_POPUP | LVS_REPORT, 0, 0, 400, 300,
                                   nullptr, nullptr, nullptr, nullptr);
    SendMessageW(App.DiskList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, DiskListExStyle);
    AddDiskListColumns();
    InsertDiskRow(Image);
    ControlProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(App.DiskList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListWindowProc)));
    App.DiskListProc = CountingProc;
    const HWND list = App.DiskList, header = ListView_GetHeader(list);
    const struct Case {
        const char* Name;
        HWND From;
        UINT Code;
        int Item;
        UINT NewState; // the key for LVN_KEYDOWN
        bool PassedOn, Stored;
        int CurrentRow;
    } cases[] = {
        {"selected", list, LVN_ITEMCHANGED, 0, LVIS_SELECTED | 0x1000, true, true, 0},
        {"new state 0", list, LVN_ITEMCHANGED, 0, 0, false, false, 0},
        {"all rows", list, LVN_ITEMCHANGED, -1, LVIS_SELECTED | 0x1000, true, false, -1},
        {"header click", header, NM_CLICK, 0, 0, true, false, -1},
        {"Delete key", list, LVN_KEYDOWN, 0, VK_DELETE, false, false, -1},
        {"other key", list, LVN_KEYDOWN, 0, 'A', true, false, -1},
    };
    for (const Case& c : cases) {
        RegDeleteValueW(App.SettingsKey.get(), Image);
        SetCurrentRow(-1);
        ReachedControl = 0;
        NMLISTVIEW change = {{c.From, 1, c.Code}, c.Item, 0, c.NewState, 0, 0, {}, 0};
        NMLVKEYDOWN key = {{c.From, 1, c.Code}, WORD(c.NewState), 0};
        void* notification = c.Code == LVN_KEYDOWN ? static_cast<void*>(&key) : &change;
        SendMessageW(list, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(notification));
        EXPECT_EQ(c.PassedOn, ReachedControl == 1) << c.Name;
        EXPECT_EQ(c.Stored, RegQueryValueExW(App.SettingsKey.get(), Image, nullptr, nullptr,
                                             nullptr, nullptr) == ERROR_SUCCESS)
            << c.Name;
        EXPECT_EQ(c.CurrentRow, GetCurrentRow()) << c.Name;
    }
    EXPECT_EQ(1, RowCount()) << "the Delete key with no selection removes nothing";
    // Only the first check box image means unchecked: a row without one stores "+".
    ListView_SetItemState(list, 0, 0, LVIS_STATEIMAGEMASK);
    NMLISTVIEW change = {{list, 1, LVN_ITEMCHANGED}, 0, 0, LVIS_SELECTED, 0, 0, {}, 0};
    SendMessageW(list, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&change));
    EXPECT_EQ(StringData(StartupFlagOn), ReadValues(HKEY_CURRENT_USER, ScratchKey).at(0).Data);
    App.SettingsKey.reset();
    RegDeleteKeyW(HKEY_CURRENT_USER, ScratchKey);
}

} // namespace
