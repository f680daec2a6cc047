#include "disklist/compact.h"

void CompactSelectedDisks() {}

void CompactAllDisks() {}
