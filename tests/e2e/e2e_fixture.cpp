#include "e2e_fixture.h"
#include "files.h"
#include "registry_fixtures.h"
#include <sstream>

namespace e2e {

namespace {

constexpr wchar_t AppDefaultsPath[] = L"Software\\Wine\\AppDefaults\\tessel.exe";

std::string N(const std::wstring& text) {
    return probe::Narrow(text);
}

void DeleteBaseKey() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, BaseKeyPath);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, BaseKeyPath);
}

std::wstring Hex(const std::vector<BYTE>& data) {
    std::wstring out;
    wchar_t byte[4];
    for (BYTE b : data) {
        swprintf(byte, 4, L"%02x", b);
        out += byte;
    }
    return out;
}

std::wstring RowLine(const std::wstring& path, const std::wstring& status,
                     const std::wstring& startup, int check, bool error, int startupImage,
                     bool handle) {
    std::wostringstream line;
    line << L"\"" << path << L"\" | \"" << status << L"\" | \"" << startup << L"\" | check "
         << check << L" | error image " << (error ? L"yes" : L"no") << L" | startup image "
         << startupImage << L" | handle " << (handle ? L"set" : L"0");
    return line.str();
}

std::wstring Line(const probe::Row& row) {
    return RowLine(row.Path, row.Status, row.Startup, row.CheckState, row.StatusImage == 1,
                   row.StartupImage, row.Handle != 0);
}

std::wstring Line(const ExpectedRow& row) {
    return RowLine(row.Path, row.Status, row.Marked ? StartupYes : StartupNo, row.Marked ? 2 : 1,
                   row.ErrorImage, row.Marked ? 2 : 3, row.Handle);
}

template <typename T> std::wstring Table(const std::vector<T>& rows) {
    std::wstring out;
    for (size_t i = 0; i < rows.size(); ++i)
        out += L"    " + std::to_wstring(i) + L": " + Line(rows[i]) + L"\n";
    return out.empty() ? L"    (no rows)\n" : out;
}

} // namespace

std::vector<BYTE> StringData(const std::wstring& text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<RegistryValue> ReadValues(HKEY root, const std::wstring& path) {
    std::vector<RegistryValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[32800];
        DWORD nameChars = ARRAYSIZE(name), type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameChars, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        RegistryValue value{name, type, std::vector<BYTE>(size)};
        nameChars = ARRAYSIZE(name);
        RegEnumValueW(key, i, name, &nameChars, nullptr, &type, value.Data.data(), &size);
        value.Data.resize(size);
        values.push_back(std::move(value));
    }
    RegCloseKey(key);
    return values;
}

std::wstring Describe(const std::vector<RegistryValue>& values) {
    std::wstring out;
    for (const RegistryValue& v : values)
        out += L"    " + v.Name + L" type " + std::to_wstring(v.Type) + L" data " + Hex(v.Data) +
               L"\n";
    return out.empty() ? L"    (no values)\n" : out;
}

::testing::AssertionResult RowsAre(const std::vector<probe::Row>& actual,
                                   const std::vector<ExpectedRow>& expected) {
    bool same = actual.size() == expected.size();
    for (size_t i = 0; same && i < actual.size(); ++i)
        same = Line(actual[i]) == Line(expected[i]);
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "rows differ\n  expected:\n"
                                         << N(Table(expected)) << "  actual:\n"
                                         << N(Table(actual));
}

::testing::AssertionResult SameRows(const std::vector<probe::Row>& before,
                                    const std::vector<probe::Row>& after) {
    bool same = before.size() == after.size();
    for (size_t i = 0; same && i < before.size(); ++i)
        same = Line(before[i]) == Line(after[i]);
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "rows changed\n  before:\n"
                                         << N(Table(before)) << "  after:\n"
                                         << N(Table(after));
}

std::vector<standin::JournalEntry> JournalFor(const std::wstring& path) {
    std::vector<standin::JournalEntry> entries;
    for (standin::JournalEntry& entry : standin::ReadJournal())
        if (lstrcmpiW(entry.Path.c_str(), path.c_str()) == 0)
            entries.push_back(std::move(entry));
    return entries;
}

std::wstring Describe(const std::vector<standin::JournalEntry>& entries) {
    std::wstring out;
    for (const standin::JournalEntry& e : entries)
        out += L"    " + e.Op + L" pid " + std::to_wstring(e.ProcessId) + L" code " +
               std::to_wstring(e.Code) + L" " + e.Path + L"\n";
    return out.empty() ? L"    (no entries)\n" : out;
}

std::wstring Describe(const std::vector<standin::Attachment>& attached) {
    std::wstring out;
    for (const standin::Attachment& a : attached)
        out += L"    " + std::wstring(a.ReadOnly ? L"ro" : L"rw") + L" pid " +
               std::to_wstring(a.ProcessId) + L" " + a.Path + L"\n";
    return out.empty() ? L"    (nothing attached)\n" : out;
}

void TesselTest::SetUp() {
    probe::KillStrayTessels();
    static int counter = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"tessel-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    DeleteFolderTree(folder_);
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << N(folder_);
    // tessel.exe inherits both: its stand-in writes where this test reads.
    SetEnvironmentVariableW(standin::JournalVariable, PathOf(L"journal.txt").c_str());
    SetEnvironmentVariableW(standin::StateVariable, PathOf(L"state").c_str());
    DeleteBaseKey();
    SetWindowsVersion(L"win10");
}

void TesselTest::TearDown() {
    for (HANDLE process : started_) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    started_.clear();
    probe::KillStrayTessels();
    DeleteBaseKey();
    RegDeleteKeyW(HKEY_CURRENT_USER, AppDefaultsPath);
    DeleteFolderTree(folder_);
}

void TesselTest::SetWindowsVersion(const wchar_t* version) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, AppDefaultsPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   DWORD((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring TesselTest::MakeImage(const std::wstring& name, imagegen::Kind kind) {
    std::wstring path = PathOf(name);
    imagegen::Options options;
    options.virtualSize = 16ull << 20;
    DWORD code = imagegen::CreateImage(path, kind, options);
    EXPECT_EQ(0u, code) << "making " << N(path);
    return path;
}

void TesselTest::SetValue(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, UserSettingsPath().c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    LSTATUS status = RegSetValueExW(key, name.c_str(), 0, type,
                                    data.empty() ? nullptr : data.data(), DWORD(data.size()));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, status) << N(name);
}

::testing::AssertionResult TesselTest::Start(probe::Target* target) {
    std::wstring error;
    if (!target->Launch(probe::TesselExe(), &error))
        return ::testing::AssertionFailure() << N(error);
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), target->Process(), GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    started_.push_back(copy);
    if (!target->WaitIdle(IdleTimeoutMs)) {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(target->Process(), &code);
        return ::testing::AssertionFailure()
               << "tessel.exe did not reach an idle message loop within " << IdleTimeoutMs
               << " ms (exit code " << code << ", window "
               << (target->Window() ? "found" : "not found") << ")";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TesselTest::StartExpectingExit(DWORD expectedCode) {
    probe::Target second;
    std::wstring error;
    if (!second.Launch(probe::TesselExe(), &error))
        return ::testing::AssertionFailure() << N(error);
    DWORD code = STILL_ACTIVE;
    if (!second.WaitExit(ExitTimeoutMs, &code)) {
        second.Kill();
        return ::testing::AssertionFailure()
               << "the start did not end within " << ExitTimeoutMs << " ms";
    }
    if (code != expectedCode)
        return ::testing::AssertionFailure()
               << "exit code " << code << ", expected " << expectedCode;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TesselTest::Quit(probe::Target* target) {
    if (!target->PostQuitRequest())
        return ::testing::AssertionFailure() << "the quit request could not be posted";
    DWORD code = STILL_ACTIVE;
    if (!target->WaitExit(ExitTimeoutMs, &code))
        return ::testing::AssertionFailure()
               << "tessel.exe still runs " << ExitTimeoutMs << " ms after the quit request";
    if (code != 1)
        return ::testing::AssertionFailure()
               << "exit code " << code << " after the quit request, expected 1";
    return ::testing::AssertionSuccess();
}

} // namespace e2e
