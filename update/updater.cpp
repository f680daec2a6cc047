#include "update/updater.h"

// The check itself is not built yet; the worker ends at once and leaves UpdateInProgress at 0.
DWORD WINAPI UpdateWorker(void*) {
    return 0;
}
