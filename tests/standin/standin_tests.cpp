// The stand-in virtual disk service against images of every kind: what it reports, what it
// refuses and with which code, sharing, attach state, handle close, compaction, journal.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <virtdisk.h>

#include <cstring>
#include <vector>

#include "standin/common/bytes.h"
#include "standin/common/formats.h"
#include "standin_fixture.h"

namespace {

using imagegen::Kind;
using imagegen::Options;

constexpr DWORD Iso = VIRTUAL_STORAGE_TYPE_DEVICE_ISO, Vhd = VIRTUAL_STORAGE_TYPE_DEVICE_VHD,
                Vhdx = VIRTUAL_STORAGE_TYPE_DEVICE_VHDX;
constexpr DWORD All = VIRTUAL_DISK_ACCESS_ALL, Read = VIRTUAL_DISK_ACCESS_READ,
                GetInfo = VIRTUAL_DISK_ACCESS_GET_INFO, AttachRo = VIRTUAL_DISK_ACCESS_ATTACH_RO,
                Detach = VIRTUAL_DISK_ACCESS_DETACH, Metaops = VIRTUAL_DISK_ACCESS_METAOPS;
constexpr DWORD NotVirtualDisk = 0xC03A0015, FooterMissing = 0xC03A0001,
                FooterChecksum = 0xC03A0002, ParentNotFound = 0xC03A000D,
                ParentIdMismatch = 0xC03A000E, ProviderNotFound = 0xC03A0014,
                InvalidType = 0xC03A001B, InvalidState = 0xC03A001C;
constexpr uint64_t MiB = 1 << 20;
constexpr ATTACH_VIRTUAL_DISK_FLAG ReadOnly = ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY;
constexpr ATTACH_VIRTUAL_DISK_FLAG NoFlags = ATTACH_VIRTUAL_DISK_FLAG_NONE;

Options Make(uint64_t size, const char* pattern = "", uint32_t block = 0, uint32_t sector = 512) {
    Options options;
    options.virtualSize = size;
    options.pattern = pattern;
    options.blockSize = block;
    options.sectorSize = sector;
    return options;
}

Options Child(const std::wstring& parent, const char* pattern = "") {
    Options options;
    options.parent = parent;
    options.pattern = pattern;
    return options;
}

DWORD Open(const std::wstring& path, DWORD device, DWORD access, HANDLE* handle,
           GUID vendor = VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT) {
    VIRTUAL_STORAGE_TYPE type = {device, vendor};
    return OpenVirtualDisk(&type, path.c_str(), VIRTUAL_DISK_ACCESS_MASK(access),
                           OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, handle);
}

DWORD Attach(HANDLE handle, ATTACH_VIRTUAL_DISK_FLAG flags) {
    return AttachVirtualDisk(handle, nullptr, flags, 0, nullptr, nullptr);
}

DWORD Compact(HANDLE handle) {
    return CompactVirtualDisk(handle, COMPACT_VIRTUAL_DISK_FLAG_NONE, nullptr, nullptr);
}

GET_VIRTUAL_DISK_INFO Query(HANDLE handle, GET_VIRTUAL_DISK_INFO_VERSION kind, DWORD* code) {
    GET_VIRTUAL_DISK_INFO info = {};
    info.Version = kind;
    ULONG size = sizeof info;
    *code = GetVirtualDiskInformation(handle, &size, &info, nullptr);
    return info;
}

class Handle {
  public:
    Handle() = default;
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE* put() {
        reset();
        return &value_;
    }
    HANDLE get() const { return value_; }
    void reset() {
        if (value_)
            CloseHandle(value_);
        value_ = nullptr;
    }

  private:
    HANDLE value_ = nullptr;
};

std::vector<uint8_t> ReadFileBytes(HANDLE file, uint64_t offset, uint32_t size) {
    std::vector<uint8_t> data(size);
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD read = 0;
    ReadFile(file, data.data(), size, &read, &at);
    data.resize(read);
    return data;
}

// Each virtual sector of a dynamic or differencing VHD, read the plain way: a hash of its
// data, or -1 where a differencing disk leaves the sector to its parent.
std::vector<int64_t> SectorView(const std::wstring& path) {
    std::vector<int64_t> view;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return view;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    std::vector<uint8_t> footer = ReadFileBytes(file, size.QuadPart - 512, 512);
    std::vector<uint8_t> header = ReadFileBytes(file, LoadBe64(&footer[16]), 1024);
    bool differencing = LoadBe32(&footer[60]) == 4;
    uint32_t blockSize = LoadBe32(&header[32]), entries = LoadBe32(&header[28]);
    uint32_t bitmapBytes = vhd::BitmapBytes(blockSize);
    std::vector<uint8_t> table = ReadFileBytes(file, LoadBe64(&header[16]), entries * 4);
    uint64_t sectors = LoadBe64(&footer[48]) / 512;
    for (uint32_t b = 0; b < entries; ++b) {
        uint32_t at = LoadBe32(&table[b * 4]);
        std::vector<uint8_t> block;
        if (at != 0xFFFFFFFF)
            block = ReadFileBytes(file, uint64_t(at) * 512, bitmapBytes + blockSize);
        for (uint32_t s = 0; s < blockSize / 512 && view.size() < sectors; ++s) {
            bool present = !block.empty() && (block[s / 8] & (0x80 >> (s % 8)));
            if (differencing && !present) {
                view.push_back(-1);
                continue;
            }
            uint32_t hash = 2166136261u;
            for (uint32_t i = 0; i < 512; ++i)
                hash = (hash ^ (block.empty() ? 0 : block[bitmapBytes + s * 512 + i])) * 16777619u;
            view.push_back(hash);
        }
    }
    CloseHandle(file);
    return view;
}

using StandinTest = StandinFixture;

// --- what the service reports -----------------------------------------------

TEST_F(StandinTest, ReportsTypeSubtypeAndSizesReadFromEveryWellFormedKind) {
    std::wstring parent = MakeImage(L"parent.vhd", Kind::VhdDynamic, Make(64 * MiB, "D"));
    struct Case {
        const wchar_t* name;
        Kind kind;
        Options options;
        DWORD device, subtype;
        uint64_t virtualSize;
        uint32_t blockSize, sectorSize;
    } cases[] = {
        {L"fixed.vhd", Kind::VhdFixed, Make(64 * MiB, "D.D"), Vhd, 2, 64 * MiB, 0, 512},
        {L"odd.vhd", Kind::VhdFixed, Make(10001 * 512), Vhd, 2, 10001 * 512, 0, 512},
        {L"dynamic.vhd", Kind::VhdDynamic, Make(64 * MiB, "DZ"), Vhd, 3, 64 * MiB, 2 * MiB, 512},
        {L"small-blocks.vhd", Kind::VhdDynamic, Make(8 * MiB, "", 512 * 1024), Vhd, 3, 8 * MiB,
         512 * 1024, 512},
        {L"child.vhd", Kind::VhdDifferencing, Child(parent, "D"), Vhd, 4, 64 * MiB, 2 * MiB, 512},
        {L"fixed.vhdx", Kind::VhdxFixed, Make(64 * MiB, "", 8 * MiB), Vhdx, 2, 64 * MiB, 0, 512},
        {L"dynamic.vhdx", Kind::VhdxDynamic, Make(100 * MiB, "D"), Vhdx, 3, 100 * MiB, 32 * MiB,
         512},
        {L"4k.vhdx", Kind::VhdxDynamic, Make(16 * MiB, "", 1 * MiB, 4096), Vhdx, 3, 16 * MiB,
         1 * MiB, 4096},
        {L"cd.iso", Kind::Iso9660, Make(1 * MiB), Iso, 2, 1 * MiB, 0, 2048},
        {L"udf.iso", Kind::IsoUdf, Make(2 * MiB), Iso, 2, 2 * MiB, 0, 2048},
        {L"huge.vhd", Kind::VhdFixed, Make(2ull << 40), Vhd, 2, 2ull << 40, 0, 512},
        {L"huge.vhdx", Kind::VhdxFixed, Make(2ull << 40), Vhdx, 2, 2ull << 40, 0, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        std::wstring path = MakeImage(c.name, c.kind, c.options);
        Handle handle;
        ASSERT_EQ(Open(path, c.device, c.device == Iso ? Read : All, handle.put()), 0u);
        DWORD code;
        GET_VIRTUAL_DISK_INFO type =
            Query(handle.get(), GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE, &code);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(type.VirtualStorageType.DeviceId, c.device);
        EXPECT_TRUE(
            IsEqualGUID(type.VirtualStorageType.VendorId, VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT));
        EXPECT_EQ(
            Query(handle.get(), GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE, &code).ProviderSubtype,
            c.subtype);
        GET_VIRTUAL_DISK_INFO size = Query(handle.get(), GET_VIRTUAL_DISK_INFO_SIZE, &code);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(size.Size.VirtualSize, c.virtualSize);
        EXPECT_EQ(size.Size.PhysicalSize, FileSizeOf(path));
        EXPECT_EQ(size.Size.BlockSize, c.blockSize);
        EXPECT_EQ(size.Size.SectorSize, c.sectorSize);
    }
}

TEST_F(StandinTest, HugeFixedImagesCostAlmostNothingOnDisk) {
    for (Kind kind : {Kind::VhdFixed, Kind::VhdxFixed}) {
        std::wstring path = MakeImage(L"huge", kind, Make(2ull << 40));
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        FILE_STANDARD_INFO info = {};
        GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
        CloseHandle(file);
        uint64_t allocated = info.AllocationSize.QuadPart;
        EXPECT_EQ(FileSizeOf(path) >> 40, 2u) << imagegen::KindName(kind);
        EXPECT_LT(allocated, 4 * MiB) << imagegen::KindName(kind);
        DeleteFileW(path.c_str());
    }
}

TEST_F(StandinTest, InformationQueriesFollowTheRecordSizeRules) {
    Handle handle;
    ASSERT_EQ(Open(MakeImage(L"d.vhd", Kind::VhdDynamic), Vhd, All, handle.put()), 0u);
    struct Case {
        int kind;
        ULONG sizeIn;
        DWORD code;
        ULONG sizeOut;
    } cases[] = {
        {GET_VIRTUAL_DISK_INFO_SIZE, 32, 0, 32},
        {GET_VIRTUAL_DISK_INFO_SIZE, 31, ERROR_INSUFFICIENT_BUFFER, 32},
        {GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE, 28, 0, 28},
        {GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE, 8, ERROR_INSUFFICIENT_BUFFER, 28},
        {GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE, 12, 0, 12},
        {GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE, 11, ERROR_INSUFFICIENT_BUFFER, 12},
        {GET_VIRTUAL_DISK_INFO_UNSPECIFIED, 32, ERROR_INVALID_PARAMETER, 32},
        {GET_VIRTUAL_DISK_INFO_IDENTIFIER, 32, ERROR_INVALID_PARAMETER, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " size " + std::to_string(c.sizeIn));
        GET_VIRTUAL_DISK_INFO info = {};
        info.Version = GET_VIRTUAL_DISK_INFO_VERSION(c.kind);
        ULONG size = c.sizeIn, used = 0;
        EXPECT_EQ(GetVirtualDiskInformation(handle.get(), &size, &info, &used), c.code);
        EXPECT_EQ(size, c.sizeOut);
        EXPECT_EQ(used, c.code ? 0 : c.sizeOut);
    }
    Handle attachOnly;
    ASSERT_EQ(Open(PathOf(L"d.vhd"), Vhd, Detach, attachOnly.put()), 0u);
    DWORD code;
    Query(attachOnly.get(), GET_VIRTUAL_DISK_INFO_SIZE, &code);
    EXPECT_EQ(code, DWORD(ERROR_ACCESS_DENIED));
}

// --- refusals ----------------------------------------------------------------

TEST_F(StandinTest, RefusesWhatIsNotAnImageOfTheRequestedTypeWithTheServiceCodes) {
    std::wstring parent = MakeImage(L"parent.vhd", Kind::VhdDynamic);
    std::wstring orphanParent = MakeImage(L"gone.vhd", Kind::VhdDynamic);
    std::wstring orphan = MakeImage(L"orphan.vhd", Kind::VhdDifferencing, Child(orphanParent));
    std::wstring swapped = MakeImage(L"swapped.vhd", Kind::VhdDifferencing, Child(parent));
    ASSERT_TRUE(DeleteFileW(orphanParent.c_str()));
    MakeImage(L"parent.vhd", Kind::VhdDynamic); // same place, new identifier
    struct Case {
        const wchar_t* name;
        Kind kind;
        DWORD device, access, code;
    } cases[] = {
        {L"text.txt", Kind::Text, Vhd, All, NotVirtualDisk},
        {L"text.txt", Kind::Text, Vhdx, All, NotVirtualDisk},
        {L"text.txt", Kind::Text, Iso, Read, ERROR_FILE_CORRUPT},
        {L"empty.vhd", Kind::Empty, Vhd, All, NotVirtualDisk},
        {L"empty.vhd", Kind::Empty, Vhdx, All, NotVirtualDisk},
        {L"empty.vhd", Kind::Empty, Iso, Read, ERROR_FILE_CORRUPT},
        {L"checksum.vhd", Kind::VhdBadChecksum, Vhd, All, FooterChecksum},
        {L"cut.vhd", Kind::VhdTruncatedFooter, Vhd, All, FooterMissing},
        {L"cookie.vhd", Kind::VhdWrongSignature, Vhd, All, NotVirtualDisk},
        {L"crc.vhdx", Kind::VhdxBadChecksum, Vhdx, All, ERROR_FILE_CORRUPT},
        {L"vhdx-as-vhd.vhdx", Kind::VhdxDynamic, Vhd, All, NotVirtualDisk},
        {L"vhd-as-vhdx.vhd", Kind::VhdDynamic, Vhdx, All, NotVirtualDisk},
        {L"vhd-as-iso.vhd", Kind::VhdFixed, Iso, Read, ERROR_FILE_CORRUPT},
        {L"iso-as-vhd.iso", Kind::Iso9660, Vhd, All, NotVirtualDisk},
        {L"iso-as-vhdx.iso", Kind::Iso9660, Vhdx, All, NotVirtualDisk},
        {L"iso-all.iso", Kind::Iso9660, Iso, All, ERROR_NOT_SUPPORTED},
        {L"iso-metaops.iso", Kind::Iso9660, Iso, Metaops | GetInfo, ERROR_NOT_SUPPORTED},
        {L"bits.vhd", Kind::VhdDynamic, Vhd, All | 1, ERROR_INVALID_PARAMETER},
        {L"none.vhd", Kind::VhdDynamic, Vhd, 0, ERROR_INVALID_PARAMETER},
        {L"device.vhd", Kind::VhdDynamic, 4, All, ProviderNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name) + " device " + std::to_string(c.device));
        HANDLE handle = nullptr;
        EXPECT_EQ(Open(MakeImage(c.name, c.kind), c.device, c.access, &handle), c.code);
    }
    struct PathCase {
        std::wstring path;
        DWORD code;
    } paths[] = {
        {PathOf(L"missing.vhd"), ERROR_FILE_NOT_FOUND},
        {PathOf(L"no-folder\\missing.vhd"), ERROR_PATH_NOT_FOUND},
        {orphan, ParentNotFound},
        {swapped, ParentIdMismatch},
    };
    for (const PathCase& c : paths) {
        SCOPED_TRACE(Narrow(c.path));
        HANDLE handle = nullptr;
        EXPECT_EQ(Open(c.path, Vhd, All, &handle), c.code);
    }
    HANDLE handle = nullptr;
    GUID otherVendor = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(Open(parent, Vhd, All, &handle, otherVendor), ProviderNotFound);
    VIRTUAL_STORAGE_TYPE type = {Vhd, VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
    EXPECT_EQ(OpenVirtualDisk(&type, nullptr, VIRTUAL_DISK_ACCESS_ALL, OPEN_VIRTUAL_DISK_FLAG_NONE,
                              nullptr, &handle),
              DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenVirtualDisk(nullptr, parent.c_str(), VIRTUAL_DISK_ACCESS_ALL,
                              OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, &handle),
              DWORD(ERROR_INVALID_PARAMETER));
}

// --- sharing -------------------------------------------------------------------

TEST_F(StandinTest, OnlyOneHandleAtATimeMayAttachOrChangeAnImage) {
    std::wstring path = MakeImage(L"shared.vhd", Kind::VhdDynamic);
    struct Case {
        DWORD first, second, code;
    } cases[] = {
        {All, All, ERROR_SHARING_VIOLATION},
        {All, Read, ERROR_SHARING_VIOLATION},
        {AttachRo, Metaops, ERROR_SHARING_VIOLATION},
        {Read, Read, ERROR_SHARING_VIOLATION},
        {All, GetInfo, 0},
        {All, Detach | GetInfo, 0},
        {GetInfo, All, 0},
        {Detach | GetInfo, Metaops, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("first 0x" + std::to_string(c.first) + " second 0x" +
                     std::to_string(c.second));
        Handle first, second;
        ASSERT_EQ(Open(path, Vhd, c.first, first.put()), 0u);
        EXPECT_EQ(Open(path, Vhd, c.second, second.put()), c.code);
        first.reset();
        EXPECT_EQ(Open(path, Vhd, c.second, second.put()), 0u) << "after the first handle closed";
    }
}

TEST_F(StandinTest, AnAttachmentInAnotherProcessHoldsTheImageUntilThatProcessEnds) {
    std::wstring path = MakeImage(L"held.vhd", Kind::VhdDynamic);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring tool = self;
    tool = tool.substr(0, tool.find_last_of(L'\\'));
    tool = tool.substr(0, tool.find_last_of(L'\\'));
    tool = tool.substr(0, tool.find_last_of(L'\\')) + L"\\standin\\standinctl.exe";
    std::wstring command = L"\"" + tool + L"\" hold \"" + path + L"\" 60";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << Narrow(tool) << " " << GetLastError();
    std::vector<standin::Attachment> attached;
    for (int i = 0; i < 500 && attached.empty(); ++i, Sleep(10))
        attached = standin::ListAttached();
    ASSERT_EQ(attached.size(), 1u);
    EXPECT_EQ(attached[0].ProcessId, process.dwProcessId);
    EXPECT_FALSE(attached[0].ReadOnly);
    EXPECT_EQ(standin::PathKey(attached[0].Path.c_str()), standin::PathKey(path.c_str()));

    Handle handle;
    EXPECT_EQ(Open(path, Vhd, All, handle.put()), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Open(path, Vhd, GetInfo, handle.put()), 0u);
    handle.reset();

    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(WaitUntilNothingAttached());
    EXPECT_EQ(Open(path, Vhd, All, handle.put()), 0u);
}

// --- attach and detach ------------------------------------------------------

TEST_F(StandinTest, AttachAndDetachFollowTheStateRulesAndKeepTheHandleUsable) {
    Handle vhd, iso, readOnlyVhd;
    std::wstring vhdPath = MakeImage(L"a.vhd", Kind::VhdDynamic);
    ASSERT_EQ(Open(vhdPath, Vhd, All, vhd.put()), 0u);
    ASSERT_EQ(Open(MakeImage(L"a.iso", Kind::Iso9660), Iso, Read, iso.put()), 0u);
    ASSERT_EQ(Open(MakeImage(L"b.vhd", Kind::VhdFixed), Vhd, Read, readOnlyVhd.put()), 0u);
    struct Step {
        const char* what;
        HANDLE handle;
        bool attach; // else detach
        ATTACH_VIRTUAL_DISK_FLAG flags;
        DWORD code;
        size_t attachedAfter;
    } steps[] = {
        {"attach vhd", vhd.get(), true, NoFlags, 0, 1},
        {"attach vhd again", vhd.get(), true, NoFlags, InvalidState, 1},
        {"detach vhd", vhd.get(), false, NoFlags, 0, 0},
        {"detach vhd again", vhd.get(), false, NoFlags, InvalidState, 0},
        {"attach vhd read-only", vhd.get(), true, ReadOnly, 0, 1},
        {"detach vhd", vhd.get(), false, NoFlags, 0, 0},
        {"attach iso writable", iso.get(), true, NoFlags, ERROR_NOT_SUPPORTED, 0},
        {"attach iso read-only", iso.get(), true, ReadOnly, 0, 1},
        {"attach read-access vhd writable", readOnlyVhd.get(), true, NoFlags, ERROR_ACCESS_DENIED,
         1},
        {"attach read-access vhd read-only", readOnlyVhd.get(), true, ReadOnly, 0, 2},
        {"permanent lifetime", vhd.get(), true, ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME,
         ERROR_NOT_SUPPORTED, 2},
        {"unknown flag", vhd.get(), true, ATTACH_VIRTUAL_DISK_FLAG(0x40), ERROR_INVALID_PARAMETER,
         2},
        {"not a disk handle", GetCurrentProcess(), true, NoFlags, ERROR_INVALID_PARAMETER, 2},
        {"detach not a disk handle", nullptr, false, NoFlags, ERROR_INVALID_PARAMETER, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        DWORD code = s.attach ? Attach(s.handle, s.flags)
                              : DetachVirtualDisk(s.handle, DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
        EXPECT_EQ(code, s.code);
        EXPECT_EQ(standin::ListAttached().size(), s.attachedAfter);
    }
    for (const standin::Attachment& a : standin::ListAttached()) {
        EXPECT_TRUE(a.ReadOnly) << Narrow(a.Path);
        EXPECT_EQ(a.ProcessId, GetCurrentProcessId());
    }
    ATTACH_VIRTUAL_DISK_PARAMETERS version2 = {};
    version2.Version = ATTACH_VIRTUAL_DISK_VERSION(2);
    EXPECT_EQ(AttachVirtualDisk(vhd.get(), nullptr, NoFlags, 0, &version2, nullptr),
              DWORD(ERROR_INVALID_PARAMETER));
    DWORD code;
    Query(vhd.get(), GET_VIRTUAL_DISK_INFO_SIZE, &code);
    EXPECT_EQ(code, 0u) << "the handle stays usable after detach";
}

TEST_F(StandinTest, ClosingTheHandleEndsTheAttachment) {
    std::wstring path = MakeImage(L"c.vhdx", Kind::VhdxDynamic);
    HANDLE handle = nullptr;
    ASSERT_EQ(Open(path, Vhdx, All, &handle), 0u);
    ASSERT_EQ(Attach(handle, NoFlags), 0u);
    ASSERT_EQ(standin::ListAttached().size(), 1u);
    EXPECT_FALSE(DeleteFileW(path.c_str())) << "an attached image is in use";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(CloseHandle(handle));
    EXPECT_EQ(DetachVirtualDisk(handle, DETACH_VIRTUAL_DISK_FLAG_NONE, 0),
              DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(WaitUntilNothingAttached());
    bool closed = false;
    for (const standin::JournalEntry& e : standin::ReadJournal())
        closed |= e.Op == L"close" && e.Path == path;
    EXPECT_TRUE(closed);
    Handle again;
    EXPECT_EQ(Open(path, Vhdx, All, again.put()), 0u) << "the image is free again";
    again.reset();
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "a closed, unattached handle holds nothing";
}

size_t ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

TEST_F(StandinTest, OneWatcherSeesWhicheverOfManyHandlesCloses) {
    std::wstring shared = MakeImage(L"many.vhd", Kind::VhdDynamic);
    std::wstring attached = MakeImage(L"one.vhd", Kind::VhdDynamic);
    Handle first;
    ASSERT_EQ(Open(shared, Vhd, GetInfo, first.put()), 0u);
    size_t threads = ThreadsOfThisProcess();
    std::vector<Handle> many(64);
    for (Handle& h : many)
        ASSERT_EQ(Open(shared, Vhd, GetInfo, h.put()), 0u);
    HANDLE handle = nullptr;
    ASSERT_EQ(Open(attached, Vhd, All, &handle), 0u);
    ASSERT_EQ(Attach(handle, NoFlags), 0u);
    EXPECT_EQ(ThreadsOfThisProcess(), threads) << "no thread per handle";

    ASSERT_TRUE(CloseHandle(handle));
    EXPECT_TRUE(WaitUntilNothingAttached()) << "no call after the close: only the watcher sees it";
    for (Handle& h : many) {
        DWORD code;
        Query(h.get(), GET_VIRTUAL_DISK_INFO_SIZE, &code);
        EXPECT_EQ(code, 0u) << "the other handles stay open";
    }
}

TEST_F(StandinTest, TheNextOpenOfAnImageSeesItsClosedHandleAtOnce) {
    std::wstring path = MakeImage(L"again.vhd", Kind::VhdDynamic);
    for (int round = 0; round < 20; ++round) {
        HANDLE handle = nullptr;
        ASSERT_EQ(Open(path, Vhd, All, &handle), 0u);
        ASSERT_EQ(Attach(handle, NoFlags), 0u);
        ASSERT_TRUE(CloseHandle(handle));
        Handle again;
        ASSERT_EQ(Open(path, Vhd, All, again.put()), 0u);
        ASSERT_EQ(Attach(again.get(), NoFlags), 0u) << "round " << round;
        EXPECT_EQ(standin::ListAttached().size(), 1u);
    }
    EXPECT_TRUE(WaitUntilNothingAttached());
    size_t closes = 0;
    for (const standin::JournalEntry& e : standin::ReadJournal())
        closes += e.Op == L"close" && e.Path == path;
    EXPECT_EQ(closes, 40u) << "each handle closed once";
}

TEST_F(StandinTest, AttachNeedsTheVolumePrivilegeHeldButNotEnabled) {
    Handle handle;
    ASSERT_EQ(Open(MakeImage(L"p.vhd", Kind::VhdDynamic), Vhd, All, handle.put()), 0u);
    HANDLE token = nullptr, restricted = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token));
    LUID_AND_ATTRIBUTES privilege = {};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_MANAGE_VOLUME_NAME, &privilege.Luid));
    ASSERT_TRUE(CreateRestrictedToken(token, 0, 0, nullptr, 1, &privilege, 0, nullptr, &restricted))
        << GetLastError();
    ASSERT_TRUE(ImpersonateLoggedOnUser(restricted)) << GetLastError();
    DWORD without = Attach(handle.get(), NoFlags);
    RevertToSelf();
    CloseHandle(restricted);
    CloseHandle(token);
    EXPECT_EQ(without, DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_EQ(Attach(handle.get(), NoFlags), 0u) << "the process token holds it, disabled";
}

// --- compaction -----------------------------------------------------------------

TEST_F(StandinTest, CompactionReleasesZeroBlocksAndKeepsTheContent) {
    std::wstring parent = MakeImage(L"parent.vhd", Kind::VhdDynamic, Make(16 * MiB, "DDDD"));
    const uint64_t vhdBlock = 2 * MiB + 512, vhdxBlock = 1 * MiB;
    struct Case {
        const wchar_t* name;
        Kind kind;
        Options options;
        DWORD device;
        uint64_t released;
    } cases[] = {
        {L"d.vhd", Kind::VhdDynamic, Make(16 * MiB, "DZ.EDZ.D"), Vhd, 3 * vhdBlock},
        {L"clean.vhd", Kind::VhdDynamic, Make(16 * MiB, "DD.D"), Vhd, 0},
        {L"all-zero.vhd", Kind::VhdDynamic, Make(16 * MiB, "ZZZZ"), Vhd, 4 * vhdBlock},
        // A present zero block hides the parent's data and stays; an empty bitmap goes.
        {L"child.vhd", Kind::VhdDifferencing, Child(parent, "DZE."), Vhd, vhdBlock},
        {L"d.vhdx", Kind::VhdxDynamic, Make(16 * MiB, "DZ.ZD", 1 * MiB), Vhdx, 2 * vhdxBlock},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        std::wstring path = MakeImage(c.name, c.kind, c.options);
        std::vector<int64_t> before = SectorView(path);
        uint64_t sizeBefore = FileSizeOf(path);
        Handle handle;
        ASSERT_EQ(Open(path, c.device, All, handle.put()), 0u);
        EXPECT_EQ(Compact(handle.get()), 0u);
        DWORD code;
        GET_VIRTUAL_DISK_INFO size = Query(handle.get(), GET_VIRTUAL_DISK_INFO_SIZE, &code);
        EXPECT_EQ(size.Size.PhysicalSize, FileSizeOf(path));
        handle.reset();
        EXPECT_EQ(sizeBefore - FileSizeOf(path), c.released);
        if (c.device == Vhd) {
            EXPECT_TRUE(SectorView(path) == before) << "virtual content changed";
        }
        ASSERT_EQ(Open(path, c.device, All, handle.put()), 0u) << "the image still opens";
    }
}

TEST_F(StandinTest, CompactionRefusesFixedImagesReadOnlyHandlesAndWritableAttachments) {
    struct Case {
        const wchar_t* name;
        Kind kind;
        DWORD device, access;
        bool attach;
        ATTACH_VIRTUAL_DISK_FLAG flags;
        DWORD code;
    } cases[] = {
        {L"f.vhd", Kind::VhdFixed, Vhd, All, false, NoFlags, InvalidType},
        {L"f.vhdx", Kind::VhdxFixed, Vhdx, All, false, NoFlags, InvalidType},
        {L"r.iso", Kind::Iso9660, Iso, Read, false, NoFlags, ERROR_ACCESS_DENIED},
        {L"r.vhd", Kind::VhdDynamic, Vhd, Read, false, NoFlags, ERROR_ACCESS_DENIED},
        {L"rw.vhd", Kind::VhdDynamic, Vhd, All, true, NoFlags, InvalidState},
        {L"ro.vhd", Kind::VhdDynamic, Vhd, All, true, ReadOnly, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        Handle handle;
        ASSERT_EQ(
            Open(MakeImage(c.name, c.kind, Make(8 * MiB, "DZ")), c.device, c.access, handle.put()),
            0u);
        if (c.attach) {
            ASSERT_EQ(Attach(handle.get(), c.flags), 0u);
        }
        EXPECT_EQ(Compact(handle.get()), c.code);
    }
}

// --- journal and faults -------------------------------------------------------

TEST_F(StandinTest, JournalsEveryCallWithItsArgumentsAndResult) {
    std::wstring path = MakeImage(L"j.iso", Kind::Iso9660);
    Handle handle;
    EXPECT_EQ(Open(path, Vhd, All, handle.put()), NotVirtualDisk);
    ASSERT_EQ(Open(path, Iso, Read, handle.put()), 0u);
    EXPECT_EQ(Attach(handle.get(), ReadOnly), 0u);
    EXPECT_EQ(DetachVirtualDisk(handle.get(), DETACH_VIRTUAL_DISK_FLAG_NONE, 0), 0u);
    EXPECT_EQ(Compact(handle.get()), DWORD(ERROR_ACCESS_DENIED));
    DWORD code;
    Query(handle.get(), GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE, &code);
    std::vector<standin::JournalEntry> journal = standin::ReadJournal();
    struct Expected {
        const wchar_t* op;
        DWORD code;
        const wchar_t* field;
        const wchar_t* value;
    } expected[] = {
        {L"open", NotVirtualDisk, L"device", L"2"},
        {L"open", 0, L"access", L"0xD0000"},
        {L"attach", 0, L"flags", L"0x1"},
        {L"detach", 0, L"flags", L"0x0"},
        {L"compact", ERROR_ACCESS_DENIED, L"flags", L"0x0"},
        {L"info", 0, L"kind", L"7"},
    };
    ASSERT_EQ(journal.size(), std::size(expected));
    for (size_t i = 0; i < journal.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(journal[i].Op, expected[i].op);
        EXPECT_EQ(journal[i].Code, expected[i].code);
        EXPECT_EQ(journal[i].Path, path);
        EXPECT_EQ(journal[i].ProcessId, GetCurrentProcessId());
        EXPECT_EQ(journal[i].Field(expected[i].field), expected[i].value);
    }
    EXPECT_TRUE(standin::ClearJournal());
    EXPECT_TRUE(standin::ReadJournal().empty());
}

TEST_F(StandinTest, APlantedFaultFailsTheNextCallOnlyAndOnlyForItsImage) {
    std::wstring path = MakeImage(L"f.vhd", Kind::VhdDynamic);
    std::wstring other = MakeImage(L"other.vhd", Kind::VhdDynamic);
    const DWORD planted = 0xC03A0010;
    Handle handle, otherHandle;
    ASSERT_TRUE(standin::InjectFault(standin::Operation::Open, path, planted));
    EXPECT_EQ(Open(other, Vhd, All, otherHandle.put()), 0u);
    EXPECT_EQ(Open(path, Vhd, All, handle.put()), planted);
    ASSERT_EQ(Open(path, Vhd, All, handle.put()), 0u);
    struct Case {
        standin::Operation op;
        DWORD (*call)(HANDLE);
    } cases[] = {
        {standin::Operation::Attach, [](HANDLE h) { return Attach(h, NoFlags); }},
        {standin::Operation::Detach,
         [](HANDLE h) { return DetachVirtualDisk(h, DETACH_VIRTUAL_DISK_FLAG_NONE, 0); }},
        {standin::Operation::Compact,
         [](HANDLE h) {
             DetachVirtualDisk(h, DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
             return Compact(h);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(standin::OperationName(c.op)));
        ASSERT_TRUE(standin::InjectFault(c.op, path, planted));
        EXPECT_EQ(c.call(handle.get()), planted);
        EXPECT_EQ(c.call(handle.get()), 0u);
    }
}

} // namespace
