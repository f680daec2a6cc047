// Owner of the shared 16x16 image list of the disk list.
#pragma once
#include <windows.h>
#include <commctrl.h>

class CImageListObject {
  public:
    constexpr CImageListObject() = default;
    CImageListObject(const CImageListObject&) = delete;
    CImageListObject& operator=(const CImageListObject&) = delete;
    virtual ~CImageListObject();

    HIMAGELIST List = nullptr;
    // Non-zero: the list belongs to someone else and is never destroyed here.
    UINT_PTR Borrowed = 0;
};

extern CImageListObject ImageListObject;
