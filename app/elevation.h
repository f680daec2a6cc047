// Tessel runs elevated; the user's shell does not. What crosses between the two.
#pragma once
#include <windows.h>

// Lets the shell's tray restart and its file drops reach the elevated windows.
void AllowShellMessages();
// Opens a web page or a new mail as the desktop's user, never elevated.
void OpenAsUser(const wchar_t* target);
