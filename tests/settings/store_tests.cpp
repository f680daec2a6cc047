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
    for (auto [data, read] : {std::pair{std::string("\7\0\0\0", 4), true},
                              {std::string("\1\0\0\0\0\0\0\0", 8), false}}) {
        RegSetValueExW(App.SettingsKey.get(), CheckForUpdateName, 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
        DWORD value = 0;
        EXPECT_EQ(read, ReadCheckForUpdate(&value)) << data.size() << " bytes";
        EXPECT_TRUE(!read || value == 7) << value;
    }
    App.SettingsKey.reset();
    DWORD value = 0;
    EXPECT_FALSE(ReadCheckForUpdate(&value)) << "no key";
    DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
}

} // namespace
