// Files dropped on the list.
#pragma once
#include <windows.h>
#include <shellapi.h>

// Adds the dropped names that open as disk images and are not listed yet; always 1.
int AddDroppedFiles(HDROP drop);
