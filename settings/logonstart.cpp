#include "settings/logonstart.h"
#include "app/globals.h"
#include "settings/store.h"

bool IsLogonStartSet() {
    return IsRunValueSet();
}

bool SetLogonStart(bool on) {
    if (!on)
        return DeleteRunValue();
    // Quoted: an unquoted path with blanks lets C:\Program.exe run at every logon.
    wchar_t* command = App.ModulePathBuffer.get();
    DWORD length = GetModuleFileNameW(nullptr, command + 1, PathBufferChars - 3);
    if (length == 0 || length >= PathBufferChars - 3)
        return false;
    command[0] = L'"';
    command[length + 1] = L'"';
    command[length + 2] = L'\0';
    return WriteRunValue(command);
}
