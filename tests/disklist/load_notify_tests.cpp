// The startup load raises item-changed notifications for the rows it checks; the main
// window must hand each of them to the list's own procedure.
#include "app/globals.h"
#include "app/startup.h"
#include "registry_fixtures.h"
#include <commctrl.h>
#include "item_changed.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<ItemChanged> ReachedList;

LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam) {
    auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_NOTIFY && sent->hwnd &&
        sent->hwnd == App.DiskList) {
        auto* change = reinterpret_cast<const NMLISTVIEW*>(sent->lParam);
        if (change->hdr.code == LVN_ITEMCHANGED)
            ReachedList.push_back({change->iItem, change->uNewState, change->uOldState});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void SetImageValue(HKEY key, const wchar_t* path, const wchar_t* flag) {
    RegSetValueExW(key, path, 0, REG_SZ, reinterpret_cast<const BYTE*>(flag),
                   static_cast<DWORD>((wcslen(flag) + 1) * sizeof(wchar_t)));
}

} // namespace

TEST(LoadNotifications, EveryCheckedRowReachesTheListProcedure) {
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, UserSettingsPath().c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    SetImageValue(key, L"C:\\absent\\a.vhd", L"+");
    SetImageValue(key, L"C:\\absent\\b.vhd", L"-");
    SetImageValue(key, L"C:\\absent\\c.vhd", L"+xyz");
    RegCloseKey(key);

    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordSent, nullptr, GetCurrentThreadId());
    bool started = StartTessel(GetModuleHandleW(nullptr));
    UnhookWindowsHookEx(hook);
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());

    ASSERT_TRUE(started);
    EXPECT_EQ((std::vector<ItemChanged>{{0, 0x2000, 0x1000}, {2, 0x2000, 0x1000}}), ReachedList);
}
