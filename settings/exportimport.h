// Export and import of the whole settings subtree through the system's registry tool.
#pragma once

void ExportSettings();
void ImportSettings();
