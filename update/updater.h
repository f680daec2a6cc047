// The background update check.
#pragma once
#include <windows.h>

DWORD WINAPI UpdateWorker(void* parameter);
