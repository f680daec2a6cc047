// The handle owners close each handle exactly once, whatever moves and resets happen.
#include "app/unique_any.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<int> Closed;
void CloseFake(int value) {
    Closed.push_back(value);
}
using UniqueFake = UniqueAny<int, &CloseFake, -1>;

} // namespace

TEST(UniqueAny, ClosesEachHandleOnceAcrossMovesResetsAndRelease) {
    Closed.clear();
    {
        UniqueFake a(1), b(2), empty;
        EXPECT_FALSE(empty);
        UniqueFake moved(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(1, moved.get());
        b = std::move(moved); // closes 2, takes 1
        b = std::move(b);     // self-move keeps 1
        UniqueFake c(3);
        c.reset(4);   // closes 3
        *c.put() = 5; // closes 4
        UniqueFake d(6);
        EXPECT_EQ(6, d.release());
    } // closes 5 (c) and 1 (b); 6 was released
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5, 1}), Closed);
}
