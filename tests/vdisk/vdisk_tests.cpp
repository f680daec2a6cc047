// The disk image operations against the stand-in service: probe order, read-only attach by
// reported type, LastDiskError rules, detach-compact-attach on one handle, the error box,
// and the service loaded from the system directory only.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "app/globals.h"
#include "support/msgbox_hook.h"
#include "tests/standin/standin_fixture.h"
#include "vdisk/diskimage.h"
#include "vdisk/virtdisk_api.h"

namespace {

using imagegen::Kind;

constexpr DWORD Untouched = 0xDEADBEEF;
constexpr uint64_t MiB = 1 << 20;

class DiskImageTest : public StandinFixture {
  protected:
    void SetUp() override {
        StandinFixture::SetUp();
        App.WindowsEightOrLater = 1;
        App.LastDiskError = Untouched;
    }

    std::vector<standin::JournalEntry> Calls(const wchar_t* op) {
        std::vector<standin::JournalEntry> calls;
        for (const standin::JournalEntry& e : standin::ReadJournal())
            if (e.Op == op)
                calls.push_back(e);
        return calls;
    }

    std::wstring Image(const wchar_t* name, Kind kind, const char* pattern = "") {
        imagegen::Options options;
        options.virtualSize = 16 * MiB;
        options.pattern = pattern;
        return MakeImage(name, kind, options);
    }
};

class ScopedImage {
  public:
    ~ScopedImage() {
        if (handle)
            CloseHandle(handle);
    }
    HANDLE handle = nullptr;
};

TEST_F(DiskImageTest, OpenProbesVhdThenVhdxThenIsoOnlyFromWindowsEight) {
    struct Case {
        const wchar_t* name; // extensions lie on purpose: only the content counts
        Kind kind;
        UINT_PTR windowsEight;
        int result;
        std::vector<std::wstring> devices;
        DWORD lastError;
    } cases[] = {
        {L"text.vhd", Kind::Text, 1, 0, {L"2", L"3", L"1"}, ERROR_FILE_CORRUPT},
        {L"text.vhd", Kind::Text, 0, 0, {L"2"}, 0xC03A0015},
        {L"vhdx.iso", Kind::VhdxDynamic, 0, 0, {L"2"}, 0xC03A0015},
        {L"iso.vhdx", Kind::Iso9660, 0, 0, {L"2"}, 0xC03A0015},
        {L"vhdx.iso", Kind::VhdxDynamic, 1, 1, {L"2", L"3"}, 0},
        {L"iso.vhdx", Kind::Iso9660, 1, 1, {L"2", L"3", L"1"}, 0},
        {L"vhd.iso", Kind::VhdDynamic, 0, 1, {L"2"}, 0},
        {L"vhd.iso", Kind::VhdFixed, 1, 1, {L"2"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name) + " Windows 8: " + std::to_string(c.windowsEight));
        std::wstring path = Image(c.name, c.kind);
        standin::ClearJournal();
        App.WindowsEightOrLater = c.windowsEight;
        App.LastDiskError = Untouched;
        ScopedImage image;
        EXPECT_EQ(OpenDiskImage(path.c_str(), &image.handle), c.result);
        if (!c.result)
            image.handle = nullptr;
        EXPECT_EQ(App.LastDiskError, c.lastError);
        std::vector<standin::JournalEntry> opens = Calls(L"open");
        ASSERT_EQ(opens.size(), c.devices.size());
        for (size_t i = 0; i < opens.size(); ++i) {
            EXPECT_EQ(opens[i].Field(L"device"), c.devices[i]);
            EXPECT_EQ(opens[i].Field(L"access"), c.devices[i] == L"1" ? L"0xD0000" : L"0x3F0000");
            EXPECT_EQ(opens[i].Field(L"flags"), L"0x0");
            EXPECT_EQ(opens[i].Path, path);
        }
    }
}

TEST_F(DiskImageTest, AttachIsReadOnlyExactlyWhenTheServiceReportsAnIsoImage) {
    struct Case {
        const wchar_t* name;
        Kind kind;
        const wchar_t* flags;
    } cases[] = {
        {L"disc.vhd", Kind::Iso9660, L"0x1"},
        {L"udf.vhd", Kind::IsoUdf, L"0x1"},
        {L"disk.iso", Kind::VhdDynamic, L"0x0"},
        {L"disk.vhdx", Kind::VhdxDynamic, L"0x0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        std::wstring path = Image(c.name, c.kind);
        standin::ClearJournal();
        ScopedImage image;
        ASSERT_EQ(OpenDiskImage(path.c_str(), &image.handle), 1);
        EXPECT_EQ(AttachDiskImage(image.handle), 1);
        EXPECT_EQ(App.LastDiskError, 0u);
        std::vector<standin::JournalEntry> journal = standin::ReadJournal();
        ASSERT_GE(journal.size(), 2u);
        EXPECT_EQ(journal[journal.size() - 2].Op, L"info");
        EXPECT_EQ(journal[journal.size() - 2].Field(L"kind"), L"6");
        EXPECT_EQ(journal.back().Op, L"attach");
        EXPECT_EQ(journal.back().Field(L"flags"), c.flags);
        std::vector<standin::Attachment> attached = standin::ListAttached();
        ASSERT_EQ(attached.size(), 1u);
        EXPECT_EQ(attached[0].ReadOnly, std::wstring(c.flags) == L"0x1");
        CloseHandle(image.handle);
        image.handle = nullptr;
        EXPECT_TRUE(WaitUntilNothingAttached());
    }
}

TEST_F(DiskImageTest, AttachWithoutAnAnswerAboutTheTypeAsksForNoFlagAndReportsTheRefusal) {
    // A handle that may attach but not ask: the query fails, so no read-only flag, and the
    // service's refusal of a writable ISO attach is what the caller gets.
    std::wstring path = Image(L"disc.iso", Kind::Iso9660);
    VIRTUAL_STORAGE_TYPE type = {VIRTUAL_STORAGE_TYPE_DEVICE_ISO,
                                 VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
    ScopedImage image;
    ASSERT_EQ(VirtDiskOpen(&type, path.c_str(), VIRTUAL_DISK_ACCESS_ATTACH_RO,
                           OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &image.handle),
              0u);
    EXPECT_EQ(AttachDiskImage(image.handle), 0);
    EXPECT_EQ(App.LastDiskError, DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(Calls(L"attach").back().Field(L"flags"), L"0x0");
}

TEST_F(DiskImageTest, QueryDiskInfoNeverChangesLastDiskError) {
    ScopedImage image;
    ASSERT_EQ(OpenDiskImage(Image(L"q.vhd", Kind::VhdDynamic).c_str(), &image.handle), 1);
    struct Case {
        HANDLE handle;
        DWORD kind;
        int result;
    } cases[] = {
        {image.handle, GET_VIRTUAL_DISK_INFO_SIZE, 1},
        {image.handle, GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE, 1},
        {image.handle, GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE, 1},
        {image.handle, GET_VIRTUAL_DISK_INFO_UNSPECIFIED, 0},
        {GetCurrentProcess(), GET_VIRTUAL_DISK_INFO_SIZE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind));
        App.LastDiskError = Untouched;
        memset(&App.DiskInfo, 0xA5, sizeof App.DiskInfo);
        EXPECT_EQ(QueryDiskInfo(c.handle, c.kind), c.result);
        EXPECT_EQ(App.LastDiskError, Untouched);
        EXPECT_EQ(DWORD(App.DiskInfo.Version), c.kind);
    }
    ASSERT_EQ(QueryDiskInfo(image.handle, GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE), 1);
    EXPECT_EQ(App.DiskInfo.ProviderSubtype, 3u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&App.DiskInfo);
    for (size_t i = 12; i < sizeof App.DiskInfo; ++i)
        EXPECT_EQ(bytes[i], 0) << "byte " << i << " kept an earlier answer";
    ASSERT_EQ(QueryDiskInfo(image.handle, GET_VIRTUAL_DISK_INFO_SIZE), 1);
    EXPECT_EQ(App.DiskInfo.Size.VirtualSize, 16 * MiB);
    EXPECT_EQ(App.DiskInfo.Size.BlockSize, 2 * MiB);
    EXPECT_EQ(App.DiskInfo.Size.SectorSize, 512u);
}

TEST_F(DiskImageTest, ADetachedHandleIsCompactedAndAttachedAgainWithoutANewOpen) {
    std::wstring path = Image(L"c.vhd", Kind::VhdDynamic, "DZZD");
    uint64_t before = FileSizeOf(path);
    ScopedImage image;
    ASSERT_EQ(OpenDiskImage(path.c_str(), &image.handle), 1);
    ASSERT_EQ(AttachDiskImage(image.handle), 1);
    EXPECT_EQ(CompactDiskImage(image.handle), 0) << "attached read-write";
    EXPECT_EQ(App.LastDiskError, 0xC03A001Cu);
    App.LastDiskError = Untouched;
    EXPECT_EQ(DetachDiskImage(image.handle), 0u);
    EXPECT_EQ(App.LastDiskError, Untouched) << "the caller stores the detach's code";
    EXPECT_TRUE(standin::ListAttached().empty());
    EXPECT_EQ(CompactDiskImage(image.handle), 1);
    EXPECT_EQ(App.LastDiskError, 0u);
    EXPECT_EQ(before - FileSizeOf(path), 2 * (2 * MiB + 512));
    EXPECT_EQ(AttachDiskImage(image.handle), 1);
    EXPECT_EQ(standin::ListAttached().size(), 1u);
    EXPECT_EQ(Calls(L"open").size(), 1u);
    EXPECT_EQ(DetachDiskImage(image.handle), 0u);
    EXPECT_EQ(DetachDiskImage(image.handle), 0xC03A001Cu) << "no longer attached";
}

TEST_F(DiskImageTest, CompactDiskImageStoresTheServiceCode) {
    struct Case {
        const wchar_t* name;
        Kind kind;
        int result;
        DWORD code;
    } cases[] = {
        {L"d.vhd", Kind::VhdDynamic, 1, 0},
        {L"d.vhdx", Kind::VhdxDynamic, 1, 0},
        {L"f.vhd", Kind::VhdFixed, 0, 0xC03A001B},
        {L"f.vhdx", Kind::VhdxFixed, 0, 0xC03A001B},
        {L"r.iso", Kind::Iso9660, 0, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        ScopedImage image;
        ASSERT_EQ(OpenDiskImage(Image(c.name, c.kind, "DZ").c_str(), &image.handle), 1);
        App.LastDiskError = Untouched;
        EXPECT_EQ(CompactDiskImage(image.handle), c.result);
        EXPECT_EQ(App.LastDiskError, c.code);
        EXPECT_EQ(Calls(L"compact").back().Field(L"flags"), L"0x0");
    }
}

// What the message table says for a code, or empty when it has nothing.
std::wstring SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result = text ? text : L"";
    LocalFree(text);
    return result;
}

TEST_F(DiskImageTest, ShowSystemErrorShowsTheSystemTextOrNamesTheUnknownCode) {
    struct Case {
        DWORD code;
        const wchar_t* fallback;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, L"Unknown error 2 (0x00000002)."},
        {ERROR_SHARING_VIOLATION, L"Unknown error 32 (0x00000020)."},
        {0xC03A0015, L"Unknown error 3225026581 (0xC03A0015)."},
        {0xE0F0BEEF, L"Unknown error 3773873903 (0xE0F0BEEF)."},
    };
    ASSERT_FALSE(SystemText(ERROR_FILE_NOT_FOUND).empty());
    ASSERT_TRUE(SystemText(0xE0F0BEEF).empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        std::wstring expected = SystemText(c.code);
        if (expected.empty())
            expected = c.fallback;
        BoxAnswerer answerer({IDOK});
        ShowSystemError(c.code);
        ASSERT_EQ(answerer.Boxes().size(), 1u);
        const ShownBox& box = answerer.Boxes()[0];
        EXPECT_EQ(box.Caption, L"Error");
        EXPECT_EQ(box.Text, expected);
        EXPECT_EQ(box.Icon, UINT(MB_ICONERROR));
        EXPECT_EQ(box.Buttons, std::vector<int>{IDOK});
        EXPECT_EQ(box.Owner, nullptr);
        EXPECT_EQ(App.LastDiskError, Untouched);
    }
}

std::wstring Folder(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

TEST_F(DiskImageTest, AVirtdiskDllBesideTheProgramIsNeverLoaded) {
    wchar_t self[MAX_PATH], system[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring planted = Folder(self) + L"\\virtdisk.dll";
    ASSERT_NE(GetFileAttributesW(planted.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the trap is missing";
    SetCurrentDirectoryW(Folder(self).c_str());

    ScopedImage image;
    EXPECT_EQ(OpenDiskImage(Image(L"t.vhd", Kind::VhdDynamic).c_str(), &image.handle), 1);
    EXPECT_EQ(App.LastDiskError, 0u);
    EXPECT_EQ(GetEnvironmentVariableW(L"VIRTDISK_TRAP_LOADED", nullptr, 0), 0u);

    std::vector<std::wstring> loaded;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more;
         more = Module32NextW(snapshot, &module))
        if (lstrcmpiW(module.szModule, L"virtdisk.dll") == 0)
            loaded.push_back(module.szExePath);
    CloseHandle(snapshot);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(lstrcmpiW(Folder(loaded[0]).c_str(), system), 0) << Narrow(loaded[0]);
}

} // namespace
