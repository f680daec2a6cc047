#include "dialogs/diskinfo.h"

void ShowDiskInfo() {}
