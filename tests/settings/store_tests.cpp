// Two registry rules: how long a string WriteStringValue stores, and that a CheckForUpdate
// word may be of any type (the options test covers a DWORD and none at all).
#include "app/globals.h"
#include "helpers.h"
#include "settings/store.h"
#include <gtest/gtest.h>

namespace {

const wchar_t ScratchPath[] = L"SOFTWARE\\TesselStoreTests";

TEST(Store, WriteStringValueStoresTheTerminatorUpToTheLimit) {
    DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
    UniqueHkey key(CreateKey(HKEY_LOCAL_MACHINE, ScratchPath));
    const size_t NullText = size_t(-1);
    const std::pair<size_t, size_t> cases[] = {
        // characters before the terminator, characters stored with it
        {1, 2},
        {0, 1},
        {StringValueLimit - 1, StringValueLimit},
        {StringValueLimit, 0},
        {StringValueLimit + 5000, 0},
        {NullText, 0},
    };
    for (auto [length, stored] : cases) {
        std::wstring text(length == NullText ? 0 : length, L'x');
        EXPECT_EQ(1,
                  WriteStringValue(key.get(), L"v", length == NullText ? nullptr : text.c_str()));
        std::vector<RegistryValue> values = ReadValues(HKEY_LOCAL_MACHINE, ScratchPath);
        ASSERT_EQ(1u, values.size());
        EXPECT_EQ(DWORD(REG_SZ), values[0].Type);
        EXPECT_EQ(stored * sizeof(wchar_t), values[0].Data.size()) << length;
    }
    EXPECT_EQ(0, WriteStringValue(nullptr, L"v", L"+"));
    key.reset();
    DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
}

TEST(Store, CheckForUpdateIsAFourByteWordOfAnyType) {
    DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
    App.SettingsKey.reset(CreateKey(HKEY_LOCAL_MACHINE, ScratchPath));
    const struct {
        DWORD Type;
        std::string Data;
        bool Read;
        DWORD Value;
    } cases[] = {
        {REG_BINARY, std::string("\7\0\0\0", 4), true, 7},
        {REG_BINARY, std::string("\1\0\0\0\0\0\0\0", 8), false, 0},
    };
    for (const auto& c : cases) {
        RegSetValueExW(App.SettingsKey.get(), CheckForUpdateName, 0, c.Type,
                       reinterpret_cast<const BYTE*>(c.Data.data()), DWORD(c.Data.size()));
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(c.Read, ReadCheckForUpdate(&value)) << "type " << c.Type;
        if (c.Read) {
            EXPECT_EQ(c.Value, value);
        }
    }
    App.SettingsKey.reset();
    DWORD value = 0;
    EXPECT_FALSE(ReadCheckForUpdate(&value)) << "no key";
    DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
}

} // namespace
