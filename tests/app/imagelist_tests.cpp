// The image-list owner destroys only a list it owns.
#include "app/imagelist.h"
#include <gtest/gtest.h>

TEST(ImageListObject, DestroysOnlyAnOwnedList) {
    struct Case {
        UINT_PTR Borrowed;
        int CountAfter;
    } cases[] = {{0, 0}, {1, 1}};
    for (const Case& c : cases) {
        HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32, 1, 1);
        ImageList_ReplaceIcon(list, -1, LoadIconW(nullptr, IDI_APPLICATION));
        ASSERT_EQ(1, ImageList_GetImageCount(list));
        auto* owner = new CImageListObject;
        owner->List = list;
        owner->Borrowed = c.Borrowed;
        delete owner;
        EXPECT_EQ(c.CountAfter, ImageList_GetImageCount(list)) << "borrowed " << c.Borrowed;
        if (c.Borrowed)
            ImageList_Destroy(list);
    }
}
