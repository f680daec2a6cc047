// The two registry rules no user reaches yet: how long a string WriteStringValue stores, and
// what counts as a CheckForUpdate word.
#include "app/globals.h"
#include "helpers.h"
#include "settings/store.h"
#include <gtest/gtest.h>
#include <string>

namespace {

const std::wstring ScratchPath = L"SOFTWARE\\TesselStoreTests";

class Store : public testing::Test {
  protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
        App.SettingsKey.reset(CreateKey(HKEY_LOCAL_MACHINE, ScratchPath.c_str()));
        ASSERT_TRUE(App.SettingsKey);
    }
    void TearDown() override {
        App.SettingsKey.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
    }
};

TEST_F(Store, WriteStringValueStoresTheTerminatorUpToTheLimit) {
    struct Case {
        size_t Length; // characters before the terminator; npos: a null text
        DWORD Bytes;   // stored
    } cases[] = {
        {1, 4},
        {0, 2},
        {StringValueLimit - 1, DWORD(StringValueLimit * sizeof(wchar_t))},
        {StringValueLimit, 0},
        {StringValueLimit + 5000, 0},
        {std::wstring::npos, 0},
    };
    for (const Case& c : cases) {
        std::wstring text(c.Length == std::wstring::npos ? 0 : c.Length, L'x');
        const wchar_t* data = c.Length == std::wstring::npos ? nullptr : text.c_str();
        SCOPED_TRACE(c.Length);
        EXPECT_EQ(1, WriteStringValue(App.SettingsKey.get(), L"value", data));
        std::vector<RegistryValue> stored = ReadValues(HKEY_LOCAL_MACHINE, ScratchPath);
        ASSERT_EQ(1u, stored.size());
        EXPECT_EQ(DWORD(REG_SZ), stored[0].Type);
        EXPECT_EQ(c.Bytes, stored[0].Data.size());
        if (c.Bytes) {
            EXPECT_TRUE(StringData(text) == stored[0].Data);
        }
    }
    EXPECT_EQ(0, WriteStringValue(nullptr, L"value", L"+"));
}

TEST_F(Store, CheckForUpdateIsAFourByteWordOfAnyType) {
    struct Case {
        DWORD Type; // 0: no value at all
        std::string Data;
        bool Read;
        DWORD Value;
    } cases[] = {
        {REG_DWORD, std::string("\1\0\0\0", 4), true, 1},
        {REG_DWORD, std::string("\0\0\0\0", 4), true, 0},
        {REG_BINARY, std::string("\7\0\0\0", 4), true, 7},
        {REG_BINARY, std::string("\1\0\0\0\0\0\0\0", 8), false, 0},
        {0, "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Type);
        RegDeleteValueW(App.SettingsKey.get(), CheckForUpdateName);
        if (c.Type)
            RegSetValueExW(App.SettingsKey.get(), CheckForUpdateName, 0, c.Type,
                           reinterpret_cast<const BYTE*>(c.Data.data()), DWORD(c.Data.size()));
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(c.Read, ReadCheckForUpdate(&value));
        if (c.Read) {
            EXPECT_EQ(c.Value, value);
        }
    }
    App.SettingsKey.reset();
    DWORD value = 0;
    EXPECT_FALSE(ReadCheckForUpdate(&value)) << "null key";
}

} // namespace
