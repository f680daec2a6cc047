// The information dialog for one mounted image.
#pragma once

void ShowDiskInfo();
