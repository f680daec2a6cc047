// A booby-trapped virtdisk.dll placed beside the test program: if the product ever loads
// it, the process environment says so and every call answers a code no service returns.
#include <windows.h>

constexpr DWORD TrapCode = 0x2BADD11;

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableW(L"VIRTDISK_TRAP_LOADED", L"1");
    return TRUE;
}

extern "C" DWORD WINAPI TrapCall() {
    return TrapCode;
}
