// A private folder per test for images, the stand-in's journal and its state folder, so
// that tests see only their own calls and attachments.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "files.h"
#include "imagegen.h"
#include "standin_client.h"

class StandinFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"standin-test-" + std::to_wstring(GetCurrentProcessId()) +
                  L"-" + std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError();
        SetEnvironmentVariableW(standin::JournalVariable, (folder_ + L"\\journal.txt").c_str());
        SetEnvironmentVariableW(standin::StateVariable, (folder_ + L"\\state").c_str());
    }
    void TearDown() override {
        standin::ClearFaults();
        DeleteFolderTree(folder_);
        SetEnvironmentVariableW(standin::JournalVariable, nullptr);
        SetEnvironmentVariableW(standin::StateVariable, nullptr);
    }

    std::wstring PathOf(const std::wstring& name) const { return folder_ + L"\\" + name; }

    std::wstring MakeImage(const std::wstring& name, imagegen::Kind kind,
                           const imagegen::Options& options = {}) {
        std::wstring path = PathOf(name);
        DWORD error = imagegen::CreateImage(path, kind, options);
        EXPECT_EQ(error, 0u) << imagegen::KindName(kind);
        return path;
    }

    // Attachments end on a watcher thread once a handle closes: give it a moment.
    static bool WaitUntilNothingAttached() {
        for (int i = 0; i < 200; ++i) {
            if (standin::ListAttached().empty())
                return true;
            Sleep(10);
        }
        return false;
    }

    static uint64_t FileSizeOf(const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    }

  private:
    std::wstring folder_;
};

inline std::string Narrow(const std::wstring& text) {
    return standin::ToUtf8(text);
}
