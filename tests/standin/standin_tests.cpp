// The stand-in virtual disk service, for what Tessel's tests rely on: sharing, attach state,
// a closed handle ending the attachment, fault injection and the journal. Image types and
// content-keeping compaction are checked against QEMU by foreign_images.py.
#include <gtest/gtest.h>
#include <windows.h>
#include <virtdisk.h>

#include <algorithm>

#include "helpers.h"
#include "imagegen.h"

namespace {

using imagegen::Kind;
constexpr DWORD Iso = VIRTUAL_STORAGE_TYPE_DEVICE_ISO, Vhd = VIRTUAL_STORAGE_TYPE_DEVICE_VHD,
                Vhdx = VIRTUAL_STORAGE_TYPE_DEVICE_VHDX;

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
    DWORD Open(const std::wstring& path, DWORD device, HANDLE* handle = nullptr, DWORD access = 0) {
        VIRTUAL_STORAGE_TYPE type = {device, VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
        HANDLE opened = nullptr;
        DWORD mask = access          ? access
                     : device == Iso ? DWORD(VIRTUAL_DISK_ACCESS_READ)
                                     : DWORD(VIRTUAL_DISK_ACCESS_ALL);
        DWORD code = OpenVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_MASK(mask),
                                     OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &opened);
        if (!code)
            handles_.push_back(opened);
        if (handle)
            *handle = opened;
        return code;
    }
    static DWORD Attach(HANDLE handle, bool readOnly) {
        return AttachVirtualDisk(handle, nullptr,
                                 readOnly ? ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY
                                          : ATTACH_VIRTUAL_DISK_FLAG_NONE,
                                 0, nullptr, nullptr);
    }

    TempFolder folder_;
    std::vector<HANDLE> handles_;
};

TEST_F(StandinTest, AttachStateSharingAndReadOnlyImages) {
    std::wstring vhd = Make(L"a.vhd", Kind::VhdDynamic), iso = Make(L"a.iso", Kind::Iso9660);
    HANDLE disk = nullptr, disc = nullptr;
    ASSERT_EQ(0u, Open(vhd, Vhd, &disk));
    EXPECT_NE(0u, Open(vhd, Vhd)) << "one writable handle per image";
    EXPECT_EQ(0u, Open(vhd, Vhd, nullptr, VIRTUAL_DISK_ACCESS_GET_INFO)) << "queries may share";
    EXPECT_EQ(0u, Attach(disk, false));
    EXPECT_NE(0u, Attach(disk, false)) << "attached already";
    EXPECT_FALSE(DeleteFileW(vhd.c_str())) << "an attached image is in use";
    EXPECT_EQ(0u, DetachVirtualDisk(disk, DETACH_VIRTUAL_DISK_FLAG_NONE, 0));
    EXPECT_NE(0u, DetachVirtualDisk(disk, DETACH_VIRTUAL_DISK_FLAG_NONE, 0)) << "not attached";
    EXPECT_EQ(0u, Attach(disk, false)) << "the handle stays usable after a detach";
    ASSERT_EQ(0u, Open(iso, Iso, &disc));
    EXPECT_NE(0u, Attach(disc, false)) << "an ISO image attaches read-only only";
    EXPECT_EQ(0u, Attach(disc, true));
    std::vector<standin::Attachment> attached = standin::ListAttached();
    ASSERT_EQ(2u, attached.size());
    for (const standin::Attachment& a : attached) {
        EXPECT_EQ(a.Path == iso, a.ReadOnly) << Narrow(a.Path);
        EXPECT_EQ(GetCurrentProcessId(), a.ProcessId);
    }
}

TEST_F(StandinTest, AClosedHandleEndsTheAttachment) {
    std::wstring path = Make(L"c.vhdx", Kind::VhdxDynamic);
    HANDLE handle = nullptr;
    ASSERT_EQ(0u, Open(path, Vhdx, &handle));
    ASSERT_EQ(0u, Attach(handle, false));
    handles_.clear();
    CloseHandle(handle);
    // The next open of the image sees the closed handle at once (a watcher thread notices it
    // too, when it gets to it).
    EXPECT_EQ(0u, Open(path, Vhdx)) << "free again";
    EXPECT_EQ(0u, standin::ListAttached().size());
    EXPECT_EQ(1u, JournalFor(path, L"close").size());
}

TEST_F(StandinTest, ADetachEndsOnlyItsOwnAttachmentAndOneLedgerListsThemAll) {
    // Short and long paths take ledger slots of two sizes, which later attachments reuse.
    std::wstring longName(150, L'x');
    std::wstring paths[] = {Make(L"a.vhd", Kind::VhdDynamic), Make(L"b.vhd", Kind::VhdDynamic),
                            Make((longName + L"1.vhd").c_str(), Kind::VhdDynamic),
                            Make((longName + L"2.vhd").c_str(), Kind::VhdDynamic)};
    HANDLE handles[4] = {};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(0u, Open(paths[i], Vhd, &handles[i]));
    struct Step {
        int Image;
        bool Attach; // else detach
        std::vector<int> Listed;
    } steps[] = {{0, true, {0}},          {2, true, {0, 2}},    {1, true, {0, 1, 2}},
                 {0, false, {1, 2}},      {3, true, {1, 2, 3}}, {2, false, {1, 3}},
                 {1, false, {3}},         {0, true, {0, 3}},    {1, true, {0, 1, 3}},
                 {2, true, {0, 1, 2, 3}}, {1, false, {0, 2, 3}}};
    for (const Step& s : steps) {
        HANDLE handle = handles[s.Image];
        ASSERT_EQ(0u, s.Attach ? Attach(handle, false)
                               : DetachVirtualDisk(handle, DETACH_VIRTUAL_DISK_FLAG_NONE, 0));
        std::vector<std::wstring> expected, listed;
        for (int i : s.Listed)
            expected.push_back(paths[i]);
        for (const standin::Attachment& a : standin::ListAttached())
            listed.push_back(a.Path);
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(expected, listed)
            << (s.Attach ? "after attaching " : "after detaching ") << s.Image;
    }
}

TEST_F(StandinTest, APlantedFaultFailsTheNextCallOfItsImageOnlyAndIsJournalled) {
    std::wstring path = Make(L"f.vhd", Kind::VhdDynamic), other = Make(L"o.vhd", Kind::VhdFixed);
    const DWORD planted = 0xE0F0BEEF;
    HANDLE handle = nullptr;
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Open, path, planted));
    EXPECT_EQ(0u, Open(other, Vhd));
    EXPECT_EQ(planted, Open(path, Vhd));
    ASSERT_EQ(0u, Open(path, Vhd, &handle));
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Attach, path, planted));
    EXPECT_EQ(planted, Attach(handle, false));
    EXPECT_EQ(0u, Attach(handle, false));
    std::string journal;
    for (const standin::JournalEntry& e : JournalFor(path))
        journal += Narrow(e.Op) + " " + std::to_string(e.Code) +
                   (e.ProcessId == GetCurrentProcessId() ? "; " : " elsewhere; ");
    EXPECT_EQ("open 3773873903; open 0; attach 3773873903; attach 0; ", journal);
}

} // namespace
