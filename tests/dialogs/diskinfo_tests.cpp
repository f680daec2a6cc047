// The information dialog's rules: the unit ladder at its boundaries, and the decimal text of
// each scaled number, which ends with the shared buffer.
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
                 {(1ull << 40) - 1, 1023, UnitGigabytes},
                 {1ull << 40, 1, UnitTerabytes},
                 {~0ull, (1ull << 24) - 1, UnitTerabytes}};
    for (const auto& c : cases) {
        const wchar_t* unit = nullptr;
        EXPECT_EQ(c.Number, ScaleToUnit(c.Value, &unit)) << c.Value;
        EXPECT_STREQ(c.Unit, unit) << c.Value;
        FillMemory(App.DecimalBuffer, sizeof App.DecimalBuffer, 0xCC);
        const std::wstring text = std::to_wstring(c.Value);
        const wchar_t* digits = FormatDecimal(c.Value);
        EXPECT_EQ(text, digits);
        EXPECT_EQ(std::end(App.DecimalBuffer) - 1 - text.size(), digits);
    }
}
