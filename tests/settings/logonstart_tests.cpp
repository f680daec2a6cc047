// The task Tessel registers where User Account Control is on. Wine's Task Scheduler keeps only
// its settings, so the definition is read as the XML handed over.
#include "settings/logonstart.h"
#include "helpers.h"
#include <gtest/gtest.h>
#include <regex>
#include <string>

namespace {

TEST(LogonStart, TaskStartsTheProgramAtAnAdministratorsLogonWithTheHighestRights) {
    const std::wstring xml = std::regex_replace(
        std::wstring(LogonTaskXml(L"\"C:\\Disks &amp; Tools\\tessel.exe\"").get()),
        std::wregex(L">\\s+<"), L"><");
    for (const wchar_t* part :
         {L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">",
          // Any member's logon: no UserId.
          L"<Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>",
          // BUILTIN\Administrators, with no UserId or LogonType beside the group.
          L"<Principal><GroupId>S-1-5-32-544</GroupId><RunLevel>HighestAvailable</RunLevel>"
          L"</Principal>",
          // A second administrator signed in gets an instance too; at normal priority.
          L"<MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>", L"<Priority>4</Priority>",
          L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
          L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
          L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
          // A folder may be named so.
          L"<Actions><Exec><Command>\"C:\\Disks &amp;amp; Tools\\tessel.exe\"</Command></Exec>"
          L"</Actions>"})
        EXPECT_NE(std::wstring::npos, xml.find(part)) << Narrow(part);
    EXPECT_TRUE(std::regex_search(xml, std::wregex(L"<RegistrationInfo><Author>[^<]+</Author>"
                                                   L"<Description>[^<]+</Description>")))
        << Narrow(xml);
}

} // namespace
