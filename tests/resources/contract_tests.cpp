// What other programs and earlier versions rely on word for word: registry names and flags, the
// messages the installer and a second start post, the manifest. A change here breaks a contract.
#include "app/globals.h"
#include "app/mainwindow.h"
#include "helpers.h"
#include "probe.h"
#include "settings/logonstart.h"
#include "settings/store.h"
#include <gtest/gtest.h>

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
    };
    for (auto [actual, fixed] : texts)
        EXPECT_STREQ(fixed, actual);
    EXPECT_EQ(1025u, WM_APP_QUIT) << "the quit request";
    EXPECT_EQ(1124u, WM_APP_TRAY) << "the tray callback";
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
          // Vista to 10 and 11, so that every system reports its own version.
          "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(std::string::npos, xml.find(part)) << part;
}

} // namespace
