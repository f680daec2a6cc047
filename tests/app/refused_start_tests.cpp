// A start without usable settings keys: only the administrator message, no window, exit code 0.
#include "app/globals.h"
#include "app/startup.h"
#include "msgbox_hook.h"
#include "registry_fixtures.h"
#include "tray.h"
#include <gtest/gtest.h>

TEST(RefusedStart, UnobtainableBaseKeyShowsOnlyTheAdministratorMessage) {
    DeleteTree(HKEY_LOCAL_MACHINE, BaseSettingsPath());
    ASSERT_TRUE(BreakKey(BaseSettingsPath()));

    BoxAnswerer answerer({IDOK});
    int exitCode = RunTessel(GetModuleHandleW(nullptr));
    MendKey(BaseSettingsPath());

    EXPECT_EQ(0, exitCode);
    ASSERT_EQ(1u, answerer.Boxes().size());
    const ShownBox& box = answerer.Boxes()[0];
    EXPECT_EQ(L"Error", box.Caption);
    EXPECT_EQ(L"Error creating registry key under HKEY_LOCAL_MACHINE.\r\n"
              L"You must install this program with administrative privileges.",
              box.Text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), box.Icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
    EXPECT_EQ(nullptr, box.Owner);

    EXPECT_EQ(nullptr, App.MainWindow);
    EXPECT_EQ(nullptr, FindWindowW(AppGuid, MainWindowTitle));
    EXPECT_FALSE(App.PathBuffer);
    EXPECT_EQ(nullptr, App.TrayIconRecord.hWnd) << "no tray icon was ever prepared";
}
