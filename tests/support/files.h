// Test folders on the prefix's drive.
#pragma once
#include <string>

// Removes a folder with everything below it; a missing folder is fine.
void DeleteFolderTree(const std::wstring& folder);
