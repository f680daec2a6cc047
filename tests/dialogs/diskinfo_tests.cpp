// The information dialog's rules: the unit ladder at its boundaries, and the decimal text,
// which ends with the shared buffer.
#include "app/globals.h"
#include "dialogs/diskinfo.h"
#include <gtest/gtest.h>
#include <iterator>

TEST(DiskInfoRules, UnitLadderAndDecimalText) {
    const struct {
        ULONGLONG Value, Number;
        const wchar_t* Unit;
    } cases[] = {{0, 0, UnitBytes},
                 {1023, 1023, UnitBytes},
                 {1024, 1, UnitKilobytes},
                 {1ull << 21, 2, UnitMegabytes},
                 {3ull << 29, 1, UnitGigabytes},
                 {(1ull << 40) - 1, 1023, UnitGigabytes},
                 {1ull << 40, 1, UnitTerabytes},
                 {~0ull, (1ull << 24) - 1, UnitTerabytes}};
    for (const auto& c : cases) {
        const wchar_t* unit = nullptr;
        EXPECT_EQ(c.Number, ScaleToUnit(c.Value, &unit)) << c.Value;
        EXPECT_STREQ(c.Unit, unit) << c.Value;
    }
    for (auto [value, text] : {std::pair{0ull, L"0"}, {~0ull, L"18446744073709551615"}}) {
        FillMemory(App.DecimalBuffer, sizeof App.DecimalBuffer, 0xCC);
        const wchar_t* digits = FormatDecimal(value);
        EXPECT_STREQ(text, digits);
        EXPECT_EQ(std::end(App.DecimalBuffer) - 1 - lstrlenW(text), digits);
    }
}
