// A virtdisk.dll that the tests lay beside a copy of tessel.exe: every call answers a code no
// service returns, so an image that mounts shows that this one was never used.
#include <windows.h>

extern "C" DWORD WINAPI TrapCall() {
    return 0x2BADD11;
}
