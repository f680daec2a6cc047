// The registry layout and its rules, against the real registry of the test prefix.
#include "app/globals.h"
#include "registry_fixtures.h"
#include "settings/store.h"
#include <gtest/gtest.h>
#include <string>

namespace {

const std::wstring ScratchPath = L"SOFTWARE\\TesselStoreTests";

class Store : public testing::Test {
  protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
        scratch_.reset(CreateKey(HKEY_LOCAL_MACHINE, ScratchPath.c_str()));
        ASSERT_TRUE(scratch_);
    }
    void TearDown() override {
        scratch_.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, ScratchPath);
        App.SettingsKey.reset();
        App.BaseKey.reset();
    }
    UniqueHkey scratch_;
};

} // namespace

TEST_F(Store, WriteStringValueStoresTheTerminatorUpToTheLimit) {
    struct Case {
        const char* Name;
        size_t Length; // characters of 'x' before the terminator; npos: a null text
        DWORD ExpectedBytes;
    } cases[] = {
        {"one character", 1, 4},
        {"empty", 0, 2},
        {"65,539 characters", 65539, 131080},
        {"65,540 characters", 65540, 0},
        {"70,000 characters", 70000, 0},
        {"null text", std::wstring::npos, 0},
    };
    for (const Case& c : cases) {
        std::wstring text = c.Length == std::wstring::npos ? L"" : std::wstring(c.Length, L'x');
        const wchar_t* data = c.Length == std::wstring::npos ? nullptr : text.c_str();
        EXPECT_EQ(1, WriteStringValue(scratch_.get(), L"value", data)) << c.Name;
        StringValue stored = ReadValue(HKEY_LOCAL_MACHINE, ScratchPath, L"value");
        EXPECT_TRUE(stored.Found) << c.Name;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.Type) << c.Name;
        EXPECT_EQ(c.ExpectedBytes, stored.Bytes) << c.Name;
        if (c.ExpectedBytes) {
            EXPECT_EQ(text, stored.Text) << c.Name;
        }
    }
    EXPECT_EQ(L"+", (WriteStringValue(scratch_.get(), L"flag", L"+"),
                     ReadValue(HKEY_LOCAL_MACHINE, ScratchPath, L"flag").Text));
}

TEST_F(Store, WriteStringValueThroughANullKeyWritesNothing) {
    EXPECT_EQ(0, WriteStringValue(nullptr, L"value", L"+"));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, ScratchPath, L"value").Found);
}

TEST_F(Store, CheckForUpdateIsAFourByteWordOfAnyType) {
    struct Case {
        const char* Name;
        DWORD Type;
        std::string Data; // empty with Type 0: no value at all
        bool Read;
        DWORD Value;
    } cases[] = {
        {"REG_DWORD 1", REG_DWORD, std::string("\1\0\0\0", 4), true, 1},
        {"REG_DWORD 0", REG_DWORD, std::string("\0\0\0\0", 4), true, 0},
        {"REG_BINARY of 4 bytes", REG_BINARY, std::string("\7\0\0\0", 4), true, 7},
        {"REG_BINARY of 8 bytes", REG_BINARY, std::string("\1\0\0\0\0\0\0\0", 8), false, 0},
        {"missing", 0, "", false, 0},
    };
    App.SettingsKey.reset(CreateKey(HKEY_LOCAL_MACHINE, ScratchPath.c_str()));
    for (const Case& c : cases) {
        RegDeleteValueW(scratch_.get(), CheckForUpdateName);
        if (c.Type)
            RegSetValueExW(scratch_.get(), CheckForUpdateName, 0, c.Type,
                           reinterpret_cast<const BYTE*>(c.Data.data()),
                           static_cast<DWORD>(c.Data.size()));
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(c.Read, ReadCheckForUpdate(&value)) << c.Name;
        if (c.Read) {
            EXPECT_EQ(c.Value, value) << c.Name;
        }
    }
    App.SettingsKey.reset();
    DWORD value = 0;
    EXPECT_FALSE(ReadCheckForUpdate(&value)) << "null key";
}

TEST_F(Store, ImageValuesAreRecognisedByTypeAndLength) {
    App.SettingsKey.reset(CreateKey(HKEY_LOCAL_MACHINE, ScratchPath.c_str()));
    // Wine enumerates in name order; the names fix the order here.
    std::wstring longData(300, L'+');
    struct Value {
        const wchar_t* Name;
        DWORD Type;
        std::wstring Data;
        DWORD Bytes;
    } values[] = {
        {L"a", REG_SZ, L"+", 4},     {L"b", REG_DWORD, L"\1", 4}, {L"c", REG_SZ, longData, 602},
        {L"d", REG_SZ, L"+xyz", 10}, {L"e", REG_SZ, L"", 0},      {L"f", REG_EXPAND_SZ, L"+", 4},
        {L"g", REG_SZ, L"x", 4},
    };
    for (const Value& v : values)
        RegSetValueExW(scratch_.get(), v.Name, 0, v.Type,
                       reinterpret_cast<const BYTE*>(v.Data.c_str()), v.Bytes);

    struct Expected {
        ImageValue Kind;
        const wchar_t* Name;
        bool Marked;
    } expected[] = {{ImageValue::Found, L"a", true},       {ImageValue::Skipped, nullptr, false},
                    {ImageValue::Skipped, nullptr, false}, {ImageValue::Found, L"d", true},
                    {ImageValue::Found, L"e", false},      {ImageValue::Skipped, nullptr, false},
                    {ImageValue::Found, L"g", false},      {ImageValue::End, nullptr, false}};
    std::wstring name(PathBufferChars, L'\0');
    BYTE data[ImageDataBytes];
    for (DWORD i = 0; i < ARRAYSIZE(expected); ++i) {
        // A value read earlier leaves "+" behind; a value without data must not inherit it.
        FillMemory(data, sizeof(data), '+');
        ImageValue kind = ReadImageValue(i, name.data(), data);
        EXPECT_EQ(expected[i].Kind, kind) << "index " << i;
        if (kind == ImageValue::Found) {
            EXPECT_STREQ(expected[i].Name, name.c_str()) << "index " << i;
            EXPECT_EQ(expected[i].Marked, IsStartupFlagOn(data)) << "index " << i;
        }
    }
}

TEST_F(Store, UnobtainableUserKeyLeavesTheSettingsInTheBaseKey) {
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
    ASSERT_TRUE(BreakKey(UserSettingsPath()));
    bool opened = OpenSettingsKeys();
    MendKey(UserSettingsPath());
    ASSERT_TRUE(opened);
    EXPECT_EQ(CurrentUserName(), App.UserName);
    EXPECT_EQ(1, WriteStringValue(App.SettingsKey.get(), L"C:\\fallback.vhd", L"+"));
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, BaseSettingsPath(), L"C:\\fallback.vhd").Found);
    RegDeleteValueW(App.BaseKey.get(), L"C:\\fallback.vhd");
}

TEST_F(Store, EmptyUserNamePutsTheSettingsInTheBaseKey) {
    App.BaseKey.reset(CreateKey(HKEY_LOCAL_MACHINE, BaseKeyPath));
    App.SettingsKey.reset(CreateKey(HKEY_LOCAL_MACHINE, BaseKeyPath));
    OpenUserSettingsKey(L"");
    EXPECT_EQ(1, WriteStringValue(App.SettingsKey.get(), L"C:\\empty-user.vhd", L"-"));
    EXPECT_EQ(L"-", ReadValue(HKEY_LOCAL_MACHINE, BaseSettingsPath(), L"C:\\empty-user.vhd").Text);
    RegDeleteValueW(App.BaseKey.get(), L"C:\\empty-user.vhd");
}

TEST_F(Store, FirstOpenCreatesTheUserKeyBelowTheBaseKey) {
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
    ASSERT_TRUE(OpenSettingsKeys());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UserSettingsPath()));
    EXPECT_EQ(1, WriteStringValue(App.SettingsKey.get(), L"C:\\user.vhd", L"+"));
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, UserSettingsPath(), L"C:\\user.vhd").Found);
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, BaseSettingsPath(), L"C:\\user.vhd").Found);
    DeleteTree(HKEY_LOCAL_MACHINE, UserSettingsPath());
}
