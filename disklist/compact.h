// The compaction commands of the context menu.
#pragma once

void CompactSelectedDisks();
void CompactAllDisks();
