// The stand-in, for what Tessel's tests rely on and would not notice going wrong: the refusals of
// sharing and attach state, and a planted fault used up by its count. (A wrong ledger fails every
// test that reads it; foreign_images.py checks types and compaction against QEMU.)
#include <gtest/gtest.h>
#include <windows.h>
#include <virtdisk.h>

#include <algorithm>

#include "helpers.h"
#include "imagegen.h"

namespace {

using imagegen::Kind;
constexpr DWORD Iso = VIRTUAL_STORAGE_TYPE_DEVICE_ISO, Vhd = VIRTUAL_STORAGE_TYPE_DEVICE_VHD;

class StandinTest : public ::testing::Test {
  protected:
    void SetUp() override { UseStandinFolder(folder_); }
    void TearDown() override {
        for (HANDLE handle : handles_)
            CloseHandle(handle);
        standin::ClearFaults();
        // The watcher ends closed handles on its own thread; removing the folder while it
        // still closes files there can hang Wine's file lookups for good.
        ASSERT_TRUE(WatcherLetGo())
            << "the stand-in still holds files of " << Narrow(folder_.PathOf(L""));
    }
    bool WatcherLetGo() const {
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(5)) {
            size_t closed = std::ranges::count_if(
                standin::ReadJournal(), [](const auto& entry) { return entry.Op == L"close"; });
            WIN32_FIND_DATAW found;
            HANDLE ledger = FindFirstFileW(
                (folder_.PathOf(L"state\\") + standin::LedgerPrefix + L"*").c_str(), &found);
            if (ledger != INVALID_HANDLE_VALUE)
                FindClose(ledger);
            else if (closed >= handles_.size())
                return true;
        }
        return false;
    }
    std::wstring Make(const wchar_t* name, Kind kind) {
        EXPECT_EQ(0u, imagegen::CreateImage(folder_.PathOf(name), kind)) << Narrow(name);
        return folder_.PathOf(name);
    }
    // Opens as the service's callers do, read-only for ISO; the handle lives to the end.
    DWORD Open(const std::wstring& path, DWORD device, HANDLE* handle = nullptr) {
        VIRTUAL_STORAGE_TYPE type = {device, VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
        HANDLE opened = nullptr;
        DWORD code = OpenVirtualDisk(
            &type, path.c_str(), device == Iso ? VIRTUAL_DISK_ACCESS_READ : VIRTUAL_DISK_ACCESS_ALL,
            OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &opened);
        if (!code)
            handles_.push_back(opened);
        if (handle)
            *handle = opened;
        return code;
    }
    static DWORD Attach(HANDLE handle) {
        return AttachVirtualDisk(handle, nullptr, ATTACH_VIRTUAL_DISK_FLAG_NONE, 0, nullptr,
                                 nullptr);
    }

    TempFolder folder_;
    std::vector<HANDLE> handles_;
};

// Refusals Tessel's tests would not notice if they were missing; what succeeds, they use.
TEST_F(StandinTest, RefusesASecondWriterADoubleAttachAndAWritableIso) {
    std::wstring vhd = Make(L"a.vhd", Kind::VhdDynamic), iso = Make(L"a.iso", Kind::Iso9660);
    HANDLE disk = nullptr, disc = nullptr;
    ASSERT_EQ(0u, Open(vhd, Vhd, &disk));
    EXPECT_NE(0u, Open(vhd, Vhd)) << "one writable handle per image";
    EXPECT_EQ(0u, Attach(disk));
    EXPECT_NE(0u, Attach(disk)) << "attached already";
    EXPECT_NE(0u, CompactVirtualDisk(disk, COMPACT_VIRTUAL_DISK_FLAG_NONE, nullptr, nullptr))
        << "compacted only detached or attached read-only";
    EXPECT_EQ(0u, DetachVirtualDisk(disk, DETACH_VIRTUAL_DISK_FLAG_NONE, 0));
    EXPECT_NE(0u, DetachVirtualDisk(disk, DETACH_VIRTUAL_DISK_FLAG_NONE, 0)) << "not attached";
    ASSERT_EQ(0u, Open(iso, Iso, &disc));
    EXPECT_NE(0u, Attach(disc)) << "an ISO image attaches read-only only";
}

// Tessel's tests see a planted code come through, but not that it stays planted.
TEST_F(StandinTest, APlantedFaultFailsTheNextCallsOfItsImageOnly) {
    std::wstring path = Make(L"f.vhd", Kind::VhdDynamic), other = Make(L"o.vhd", Kind::VhdFixed);
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Open, path, 0xE0F0BEEF, 2));
    EXPECT_EQ(0u, Open(other, Vhd));
    EXPECT_EQ(0xE0F0BEEFu, Open(path, Vhd));
    EXPECT_EQ(0xE0F0BEEFu, Open(path, Vhd));
    EXPECT_EQ(0u, Open(path, Vhd));
}

} // namespace
