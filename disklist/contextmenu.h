// The list's context menu: which items a right-click enables, and the menu itself.
#pragma once
#include <windows.h>

int NothingToMount();
int NothingToUnmount();
BOOL GreyContextItem(UINT id);
BOOL EnableContextItem(UINT id);
// Greys or enables each item for the list as it stands.
void SetContextMenuItems();
// Sets the items, makes the clicked row current (-1: none), and tracks the menu at the
// cursor; the chosen command comes back to the list.
void ShowContextMenu(int clickedRow);
