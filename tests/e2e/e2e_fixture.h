// What every end-to-end test needs: its own registry state, its own image folder and
// stand-in state, tessel.exe started and idle, and everything gone again afterwards.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

#include "imagegen.h"
#include "probe.h"
#include "standin_client.h"

namespace e2e {

constexpr wchar_t BaseKeyPath[] = L"SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}";
constexpr wchar_t StatusMounted[] = L"Mounted";
constexpr wchar_t StatusUnmounted[] = L"Unmounted";
constexpr wchar_t StatusMountError[] = L"Mount error";
constexpr wchar_t StatusOpenError[] = L"Error open VHD";
constexpr wchar_t StartupYes[] = L"Yes, mount at Windows startup";
constexpr wchar_t StartupNo[] = L"No, don't mount at Windows startup";
constexpr DWORD IdleTimeoutMs = 30000;
constexpr DWORD ExitTimeoutMs = 10000;

struct RegistryValue {
    std::wstring Name;
    DWORD Type = REG_SZ;
    std::vector<BYTE> Data;
    bool operator==(const RegistryValue&) const = default;
};

// A string value's data as the registry keeps it: UTF-16 with its terminator.
std::vector<BYTE> StringData(const std::wstring& text);
std::vector<RegistryValue> ReadValues(HKEY root, const std::wstring& path);
std::wstring Describe(const std::vector<RegistryValue>& values);

// How a row should look; the startup column, check box and images follow from Marked.
struct ExpectedRow {
    std::wstring Path;
    std::wstring Status;
    bool Marked = false;
    bool ErrorImage = false;
    bool Handle = false;
};

// Compares the live rows with the table, in order, and prints both on a mismatch.
::testing::AssertionResult RowsAre(const std::vector<probe::Row>& actual,
                                   const std::vector<ExpectedRow>& expected);
::testing::AssertionResult SameRows(const std::vector<probe::Row>& before,
                                    const std::vector<probe::Row>& after);

// Journal lines for one image, in order.
std::vector<standin::JournalEntry> JournalFor(const std::wstring& path);
std::wstring Describe(const std::vector<standin::JournalEntry>& entries);
std::wstring Describe(const std::vector<standin::Attachment>& attached);

class TesselTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The Windows version Wine reports to tessel.exe: win7, win8 or win10.
    void SetWindowsVersion(const wchar_t* version);
    // A file in this test's own folder.
    std::wstring PathOf(const std::wstring& name) const { return folder_ + L"\\" + name; }
    std::wstring MakeImage(const std::wstring& name, imagegen::Kind kind);
    void SetValue(const std::wstring& name, DWORD type, const std::vector<BYTE>& data);
    void SetFlag(const std::wstring& name, const std::wstring& flag) {
        SetValue(name, REG_SZ, StringData(flag));
    }
    // Starts tessel.exe as the Run key does and waits until its start-up is over.
    ::testing::AssertionResult Start(probe::Target* target);
    // A start that is expected to end at once.
    ::testing::AssertionResult StartExpectingExit(DWORD expectedCode);
    ::testing::AssertionResult Quit(probe::Target* target);

    std::wstring folder_;
    std::vector<HANDLE> started_;
};

} // namespace e2e
