// A start without usable settings keys: only the administrator message, no window, exit code 0.
// In process, because only here can the box's icon be told.
#include "app/globals.h"
#include "app/startup.h"
#include "helpers.h"
#include "msgbox_hook.h"
#include "settings/store.h"
#include <gtest/gtest.h>

TEST(RefusedStart, UnobtainableBaseKeyShowsOnlyTheAdministratorMessage) {
    DeleteTree(HKEY_LOCAL_MACHINE, BaseKeyPath);
    ASSERT_TRUE(BreakKey(BaseKeyPath));
    BoxAnswerer answerer;
    int exitCode = RunTessel(GetModuleHandleW(nullptr));
    MendKey(BaseKeyPath);

    EXPECT_EQ(0, exitCode);
    ASSERT_EQ(1u, answerer.Boxes().size());
    const ShownBox& box = answerer.Boxes()[0];
    EXPECT_EQ(ErrorCaption, box.Caption);
    EXPECT_EQ(AdministratorMessage, box.Text);
    EXPECT_EQ(UINT(MB_ICONWARNING), box.Icon);
    EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
    EXPECT_EQ(nullptr, box.Owner);
    EXPECT_EQ(nullptr, FindWindowW(AppGuid, MainWindowTitle));
}
