#include "app/globals.h"
#include "app/imagelist.h"

// One translation unit, this order: the image list is destroyed after the record,
// whose exit-time clean-up closes BaseKey and then SettingsKey.
CImageListObject ImageListObject;
AppGlobals App;
