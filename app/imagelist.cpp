#include "app/imagelist.h"

CImageListObject::~CImageListObject() {
    if (List && !Borrowed)
        ImageList_Destroy(List);
}
