// A list view's item-changed notification as tests record and compare it.
#pragma once
#include <windows.h>
#include <ostream>

struct ItemChanged {
    int Item;
    UINT NewState;
    UINT OldState;
    bool operator==(const ItemChanged&) const = default;
};

inline void PrintTo(const ItemChanged& c, std::ostream* os) {
    *os << "{item " << c.Item << ", new 0x" << std::hex << c.NewState << ", old 0x" << c.OldState
        << std::dec << "}";
}
