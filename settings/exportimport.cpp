#include "settings/exportimport.h"

// Not offered yet: the menu items exist, the registry tool is not started.
void ExportSettings() {}
void ImportSettings() {}
