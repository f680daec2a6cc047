// Whether the system starts Tessel when a user logs on.
#pragma once

bool IsLogonStartSet();
// Starts Tessel at every logon from its present path, or no longer; false when it failed.
bool SetLogonStart(bool on);
