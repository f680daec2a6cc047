#include "imagegen.h"

#include <cstring>
#include <vector>

#include "standin/common/bytes.h"
#include "standin/common/formats.h"

namespace imagegen {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t RoundUp(uint64_t value, uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

// Positioned writes; anything never written stays a hole in the file.
class Writer {
  public:
    explicit Writer(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (file_ == INVALID_HANDLE_VALUE)
            error_ = GetLastError();
    }
    ~Writer() {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void At(uint64_t offset, const void* data, size_t size) {
        if (error_)
            return;
        LARGE_INTEGER position;
        position.QuadPart = LONGLONG(offset);
        DWORD written = 0;
        if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) ||
            !WriteFile(file_, data, DWORD(size), &written, nullptr) || written != size)
            error_ = GetLastError();
    }
    void At(uint64_t offset, const Bytes& data) { At(offset, data.data(), data.size()); }
    void End(uint64_t size) {
        if (error_)
            return;
        LARGE_INTEGER position;
        position.QuadPart = LONGLONG(size);
        if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file_))
            error_ = GetLastError();
    }
    DWORD Error() const { return error_; }

  private:
    HANDLE file_;
    DWORD error_ = 0;
};

uint64_t NextRandom() {
    static uint64_t state = [] {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        return uint64_t(counter.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32);
    }();
    uint64_t z = (state += 0x9E3779B97F4A7C15); // splitmix64
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

void RandomBytes(uint8_t* out, size_t size) {
    for (size_t i = 0; i < size; ++i)
        out[i] = uint8_t(NextRandom());
}

char BlockLetter(const std::string& pattern, uint64_t block) {
    return block < pattern.size() ? pattern[block] : '.';
}

Bytes DataBlock(uint64_t virtualOffset, uint32_t size) {
    Bytes data(size);
    for (uint32_t i = 0; i < size; i += 512)
        memset(data.data() + i, imagegen::DataByte(virtualOffset + i), 512);
    return data;
}

// --- VHD -------------------------------------------------------------------

uint32_t VhdTimestamp() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t seconds = (uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000000;
    return uint32_t(seconds - 12591158400ull); // 1601-01-01 to 2000-01-01
}

// Cylinders, heads and sectors per track as the VHD format computes them.
uint32_t VhdGeometry(uint64_t size) {
    uint64_t total = size / 512;
    if (total > 65535ull * 16 * 255)
        total = 65535ull * 16 * 255;
    uint64_t sectors, heads, cylinderTimesHeads;
    if (total >= 65535ull * 16 * 63) {
        sectors = 255;
        heads = 16;
        cylinderTimesHeads = total / sectors;
    } else {
        sectors = 17;
        cylinderTimesHeads = total / sectors;
        heads = (cylinderTimesHeads + 1023) / 1024;
        if (heads < 4)
            heads = 4;
        if (cylinderTimesHeads >= heads * 1024 || heads > 16) {
            sectors = 31;
            heads = 16;
            cylinderTimesHeads = total / sectors;
        }
        if (cylinderTimesHeads >= heads * 1024) {
            sectors = 63;
            heads = 16;
            cylinderTimesHeads = total / sectors;
        }
    }
    return uint32_t(cylinderTimesHeads / heads << 16 | heads << 8 | sectors);
}

Bytes VhdFooter(uint64_t size, uint32_t type) {
    Bytes footer(vhd::FooterSize);
    uint8_t* f = footer.data();
    memcpy(f + vhd::OffCookie, "conectix", 8);
    StoreBe32(f + vhd::OffFeatures, 2);
    StoreBe32(f + vhd::OffVersion, 0x00010000);
    StoreBe64(f + vhd::OffDataOffset, type == vhd::TypeFixed ? ~0ull : vhd::FooterSize);
    StoreBe32(f + vhd::OffTimestamp, VhdTimestamp());
    // "win " makes readers take the size from the footer, as Windows does, not from geometry.
    memcpy(f + vhd::OffCreatorApp, "win ", 4);
    StoreBe32(f + vhd::OffCreatorVersion, 0x000A0000);
    memcpy(f + vhd::OffCreatorOs, "Wi2k", 4);
    StoreBe64(f + vhd::OffOriginalSize, size);
    StoreBe64(f + vhd::OffCurrentSize, size);
    StoreBe32(f + vhd::OffGeometry, VhdGeometry(size));
    StoreBe32(f + vhd::OffDiskType, type);
    RandomBytes(f + vhd::OffUniqueId, 16);
    StoreBe32(f + vhd::OffChecksum, VhdChecksum(f, vhd::FooterSize, vhd::OffChecksum));
    return footer;
}

DWORD WriteVhdFixed(const std::wstring& path, const Options& o, Bytes* footerOut = nullptr) {
    uint64_t size = RoundUp(o.virtualSize, 512);
    uint32_t blockSize = o.blockSize ? o.blockSize : vhd::DefaultBlockSize;
    Writer out(path);
    for (uint64_t block = 0; block * blockSize < size; ++block)
        if (BlockLetter(o.pattern, block) == 'D')
            out.At(block * blockSize,
                   DataBlock(block * blockSize,
                             uint32_t(std::min<uint64_t>(blockSize, size - block * blockSize))));
    Bytes footer = VhdFooter(size, vhd::TypeFixed);
    out.At(size, footer);
    if (footerOut)
        *footerOut = footer;
    return out.Error();
}

struct ParentInfo {
    uint64_t size;
    uint8_t id[16];
    uint32_t timestamp;
};

DWORD ReadParent(const std::wstring& path, ParentInfo* parent) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    uint8_t footer[vhd::FooterSize] = {};
    LARGE_INTEGER size{}, position{};
    DWORD read = 0;
    GetFileSizeEx(file, &size);
    position.QuadPart = size.QuadPart - vhd::FooterSize;
    bool ok = size.QuadPart >= vhd::FooterSize &&
              SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
              ReadFile(file, footer, sizeof footer, &read, nullptr) && read == sizeof footer;
    CloseHandle(file);
    if (!ok || memcmp(footer, "conectix", 8) != 0)
        return ERROR_BAD_FORMAT;
    parent->size = LoadBe64(footer + vhd::OffCurrentSize);
    memcpy(parent->id, footer + vhd::OffUniqueId, 16);
    parent->timestamp = LoadBe32(footer + vhd::OffTimestamp);
    return 0;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    return full;
}

Bytes Utf16Le(const std::wstring& text) {
    Bytes out(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i)
        StoreLe16(&out[i * 2], uint16_t(text[i]));
    return out;
}

// Dynamic and differencing VHD: footer copy, header, BAT, parent locators, blocks, footer.
DWORD WriteVhdDynamic(const std::wstring& path, const Options& o, bool differencing) {
    ParentInfo parent{};
    std::wstring parentFull;
    uint64_t size = RoundUp(o.virtualSize, 512);
    if (differencing) {
        parentFull = FullPath(o.parent);
        if (DWORD error = ReadParent(parentFull, &parent))
            return error;
        size = parent.size;
    }
    uint32_t blockSize = o.blockSize ? o.blockSize : vhd::DefaultBlockSize;
    uint32_t entries = uint32_t((size + blockSize - 1) / blockSize);
    uint64_t batOffset = vhd::FooterSize + vhd::HeaderSize;
    uint64_t next = batOffset + RoundUp(uint64_t(entries) * 4, 512);

    Bytes header(vhd::HeaderSize);
    uint8_t* h = header.data();
    memcpy(h + vhd::HOffCookie, "cxsparse", 8);
    StoreBe64(h + vhd::HOffDataOffset, ~0ull);
    StoreBe64(h + vhd::HOffTableOffset, batOffset);
    StoreBe32(h + vhd::HOffVersion, 0x00010000);
    StoreBe32(h + vhd::HOffMaxEntries, entries);
    StoreBe32(h + vhd::HOffBlockSize, blockSize);

    Writer out(path);
    if (differencing) {
        memcpy(h + vhd::HOffParentId, parent.id, 16);
        StoreBe32(h + vhd::HOffParentTime, parent.timestamp);
        for (size_t i = 0; i < parentFull.size() && i < 256; ++i)
            StoreBe16(h + vhd::HOffParentName + i * 2, uint16_t(parentFull[i]));
        std::wstring name = parentFull.substr(parentFull.find_last_of(L"\\/") + 1);
        const std::pair<uint32_t, std::wstring> locators[] = {{vhd::PlatformW2ku, parentFull},
                                                              {vhd::PlatformW2ru, L".\\" + name}};
        for (size_t i = 0; i < 2; ++i) {
            Bytes data = Utf16Le(locators[i].second);
            uint64_t space = RoundUp(data.size(), 512);
            uint8_t* entry = h + vhd::HOffLocators + i * vhd::LocatorSize;
            StoreBe32(entry, locators[i].first);
            StoreBe32(entry + 4, uint32_t(space / 512));
            StoreBe32(entry + 8, uint32_t(data.size()));
            StoreBe64(entry + 16, next);
            out.At(next, data);
            next += space;
        }
    }
    StoreBe32(h + vhd::HOffChecksum, VhdChecksum(h, vhd::HeaderSize, vhd::HOffChecksum));

    std::vector<uint8_t> bat(RoundUp(uint64_t(entries) * 4, 512), 0xFF);
    uint32_t bitmapBytes = vhd::BitmapBytes(blockSize);
    for (uint32_t block = 0; block < entries; ++block) {
        char letter = BlockLetter(o.pattern, block);
        if (letter == '.')
            continue;
        StoreBe32(&bat[block * 4], uint32_t(next / 512));
        out.At(next, Bytes(bitmapBytes, letter == 'E' ? 0x00 : 0xFF));
        if (letter == 'D')
            out.At(next + bitmapBytes, DataBlock(uint64_t(block) * blockSize, blockSize));
        next += bitmapBytes + blockSize;
    }
    Bytes footer = VhdFooter(size, differencing ? vhd::TypeDifferencing : vhd::TypeDynamic);
    out.At(0, footer);
    out.At(vhd::FooterSize, header);
    out.At(batOffset, bat);
    out.At(next, footer);
    return out.Error();
}

// --- VHDX ------------------------------------------------------------------

void StoreGuid(uint8_t* p, const GUID& guid) {
    StoreLe32(p, guid.Data1);
    StoreLe16(p + 4, guid.Data2);
    StoreLe16(p + 6, guid.Data3);
    memcpy(p + 8, guid.Data4, 8);
}

DWORD WriteVhdx(const std::wstring& path, const Options& o, bool fixed, bool breakHeaders) {
    const uint64_t MiB = vhdx::MiB;
    uint32_t sector = o.sectorSize;
    uint32_t blockSize = o.blockSize ? o.blockSize : uint32_t(32 * MiB);
    uint64_t size = RoundUp(o.virtualSize, sector);
    uint64_t blocks = (size + blockSize - 1) / blockSize;
    uint64_t chunkRatio = vhdx::ChunkRatio(sector, blockSize);
    uint64_t batEntries = blocks ? blocks + (blocks - 1) / chunkRatio : 0;
    const uint64_t logOffset = 1 * MiB, metadataOffset = 2 * MiB, batOffset = 3 * MiB;
    uint64_t batLength = RoundUp(batEntries * 8, MiB);
    if (batLength == 0)
        batLength = MiB;
    Writer out(path);

    Bytes identifier(64 * 1024);
    memcpy(identifier.data(), "vhdxfile", 8);
    Bytes creator = Utf16Le(L"Tessel imagegen");
    memcpy(identifier.data() + 8, creator.data(), creator.size());
    out.At(0, identifier);

    Bytes header(vhdx::HeaderSize);
    memcpy(header.data(), "head", 4);
    RandomBytes(header.data() + vhdx::HOffFileWriteGuid, 32);
    StoreLe16(header.data() + vhdx::HOffVersion, 1);
    StoreLe32(header.data() + vhdx::HOffLogLength, uint32_t(MiB));
    StoreLe64(header.data() + vhdx::HOffLogOffset, logOffset);
    for (int slot = 0; slot < 2; ++slot) {
        StoreLe64(header.data() + vhdx::HOffSequence, slot + 1);
        StoreLe32(header.data() + 4, VhdxChecksum(header.data(), vhdx::HeaderSize) + breakHeaders);
        out.At(vhdx::HeaderOffset[slot], header);
    }

    Bytes regions(vhdx::RegionTableSize);
    memcpy(regions.data(), "regi", 4);
    StoreLe32(regions.data() + 8, 2);
    const std::pair<GUID, std::pair<uint64_t, uint64_t>> table[] = {
        {vhdx::BatRegion, {batOffset, batLength}}, {vhdx::MetadataRegion, {metadataOffset, MiB}}};
    for (int i = 0; i < 2; ++i) {
        uint8_t* entry = regions.data() + 16 + i * 32;
        StoreGuid(entry, table[i].first);
        StoreLe64(entry + 16, table[i].second.first);
        StoreLe32(entry + 24, uint32_t(table[i].second.second));
        StoreLe32(entry + 28, 1); // required
    }
    StoreLe32(regions.data() + 4, VhdxChecksum(regions.data(), vhdx::RegionTableSize));
    out.At(vhdx::RegionTableOffset[0], regions);
    out.At(vhdx::RegionTableOffset[1], regions);

    Bytes metadata(vhdx::MetadataTableSize + 64);
    memcpy(metadata.data(), "metadata", 8);
    uint8_t* items = metadata.data() + vhdx::MetadataTableSize;
    StoreLe32(items, blockSize);
    StoreLe32(items + 4, fixed ? vhdx::LeaveBlocksAllocated : 0);
    StoreLe64(items + 8, size);
    StoreLe32(items + 16, sector);
    StoreLe32(items + 20, 4096);
    RandomBytes(items + 24, 16);
    const struct {
        GUID id;
        uint32_t offset, length, flags;
    } entries[] = {{vhdx::FileParameters, 0, 8, 4},
                   {vhdx::VirtualDiskSize, 8, 8, 6},
                   {vhdx::LogicalSectorSize, 16, 4, 6},
                   {vhdx::PhysicalSectorSize, 20, 4, 6},
                   {vhdx::Page83Data, 24, 16, 6}};
    StoreLe16(metadata.data() + 10, uint16_t(std::size(entries)));
    for (size_t i = 0; i < std::size(entries); ++i) {
        uint8_t* entry = metadata.data() + 32 + i * 32;
        StoreGuid(entry, entries[i].id);
        StoreLe32(entry + 16, vhdx::MetadataTableSize + entries[i].offset);
        StoreLe32(entry + 20, entries[i].length);
        StoreLe32(entry + 24, entries[i].flags);
    }
    out.At(metadataOffset, metadata);

    Bytes bat(batEntries * 8);
    uint64_t next = batOffset + batLength;
    for (uint64_t block = 0; block < blocks; ++block) {
        char letter = BlockLetter(o.pattern, block);
        if (!fixed && letter == '.')
            continue;
        StoreLe64(&bat[vhdx::PayloadBatIndex(block, chunkRatio) * 8],
                  next | vhdx::PayloadFullyPresent);
        if (letter == 'D')
            out.At(next, DataBlock(block * blockSize, blockSize));
        next += blockSize;
    }
    out.At(batOffset, bat);
    out.End(next);
    return out.Error();
}

// --- ISO -------------------------------------------------------------------

void StoreBoth16(uint8_t* p, uint16_t v) {
    StoreLe16(p, v);
    StoreBe16(p + 2, v);
}
void StoreBoth32(uint8_t* p, uint32_t v) {
    StoreLe32(p, v);
    StoreBe32(p + 4, v);
}

void DirectoryRecord(uint8_t* p, uint32_t extent, uint8_t name) {
    p[0] = 34;
    StoreBoth32(p + 2, extent);
    StoreBoth32(p + 10, iso::SectorSize);
    p[18] = 125; // years since 1900
    p[19] = p[20] = 1;
    p[25] = 2; // directory
    StoreBoth16(p + 28, 1);
    p[32] = 1;
    p[33] = name;
}

// A primary volume descriptor, a terminator, both path tables and an empty root directory.
DWORD WriteIso9660(const std::wstring& path, const Options& o) {
    const uint32_t sector = iso::SectorSize;
    uint64_t size = std::max<uint64_t>(RoundUp(o.virtualSize, sector), 21 * sector);
    Bytes area(5 * sector);
    uint8_t* pvd = area.data();
    pvd[0] = 1;
    memcpy(pvd + 1, "CD001", 5);
    pvd[6] = 1;
    memset(pvd + 8, ' ', 64);
    memcpy(pvd + 40, "TESSEL", 6);
    StoreBoth32(pvd + 80, uint32_t(size / sector));
    StoreBoth16(pvd + 120, 1);
    StoreBoth16(pvd + 124, 1);
    StoreBoth16(pvd + 128, uint16_t(sector));
    StoreBoth32(pvd + 132, 10);
    StoreLe32(pvd + 140, 18);
    StoreBe32(pvd + 148, 19);
    DirectoryRecord(pvd + 156, 20, 0);
    memset(pvd + 190, ' ', 623);
    for (int date : {813, 830, 847, 864})
        memset(pvd + date, '0', 16);
    pvd[881] = 1;
    uint8_t* terminator = area.data() + sector;
    terminator[0] = 255;
    memcpy(terminator + 1, "CD001", 5);
    terminator[6] = 1;
    uint8_t* pathL = area.data() + 2 * sector;
    uint8_t* pathM = area.data() + 3 * sector;
    pathL[0] = pathM[0] = 1;
    StoreLe32(pathL + 2, 20);
    StoreLe16(pathL + 6, 1);
    StoreBe32(pathM + 2, 20);
    StoreBe16(pathM + 6, 1);
    DirectoryRecord(area.data() + 4 * sector, 20, 0);
    DirectoryRecord(area.data() + 4 * sector + 34, 20, 1);
    Writer out(path);
    out.At(uint64_t(iso::DescriptorSector) * sector, area);
    out.End(size);
    return out.Error();
}

uint16_t Crc16Itu(const uint8_t* p, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// Volume recognition sequence BEA01, NSR02, TEA01 and the anchor at sector 256, without CD001.
DWORD WriteIsoUdf(const std::wstring& path, const Options& o) {
    const uint32_t sector = iso::SectorSize;
    uint64_t size = std::max<uint64_t>(RoundUp(o.virtualSize, sector), 512ull * sector);
    Writer out(path);
    const char* ids[] = {"BEA01", "NSR02", "TEA01"};
    for (uint32_t i = 0; i < 3; ++i) {
        uint8_t descriptor[7] = {0, 0, 0, 0, 0, 0, 1};
        memcpy(descriptor + 1, ids[i], 5);
        out.At(uint64_t(iso::DescriptorSector + i) * sector, descriptor, sizeof descriptor);
    }
    uint8_t anchor[512] = {};
    StoreLe16(anchor, 2);     // anchor volume descriptor pointer
    StoreLe16(anchor + 2, 2); // descriptor version
    StoreLe16(anchor + 10, 496);
    StoreLe32(anchor + 12, iso::UdfAnchorSector);
    StoreLe32(anchor + 16, 16 * sector); // main volume descriptor sequence: length, location
    StoreLe32(anchor + 20, 32);
    StoreLe32(anchor + 24, 16 * sector); // reserve sequence
    StoreLe32(anchor + 28, 48);
    StoreLe16(anchor + 8, Crc16Itu(anchor + 16, 496));
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        sum = uint8_t(sum + (i == 4 ? 0 : anchor[i]));
    anchor[4] = sum;
    out.At(uint64_t(iso::UdfAnchorSector) * sector, anchor, sizeof anchor);
    out.End(size);
    return out.Error();
}

// --- malformed kinds -------------------------------------------------------

DWORD PatchFile(const std::wstring& path, uint64_t offset, const void* data, size_t size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    LARGE_INTEGER position;
    position.QuadPart = LONGLONG(offset);
    DWORD written = 0;
    bool ok = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
              (data ? WriteFile(file, data, DWORD(size), &written, nullptr) : SetEndOfFile(file));
    DWORD error = ok ? 0 : GetLastError();
    CloseHandle(file);
    return error;
}

DWORD WriteMalformedVhd(const std::wstring& path, const Options& o, Kind kind) {
    if (kind == Kind::VhdTruncatedFooter) {
        if (DWORD error = WriteVhdDynamic(path, o, false))
            return error;
        WIN32_FILE_ATTRIBUTE_DATA info;
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info))
            return GetLastError();
        uint64_t size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
        return PatchFile(path, size - vhd::FooterSize / 2, nullptr, 0);
    }
    Bytes footer;
    if (DWORD error = WriteVhdFixed(path, o, &footer))
        return error;
    uint64_t at = RoundUp(o.virtualSize, 512);
    if (kind == Kind::VhdBadChecksum) {
        footer[vhd::OffChecksum + 3] ^= 0x5A;
        return PatchFile(path, at, footer.data(), footer.size());
    }
    return PatchFile(path, at, "connectx", 8);
}

DWORD WriteText(const std::wstring& path) {
    Writer out(path);
    const char text[] = "This is a plain text file.\r\nIt is not a disk image of any kind.\r\n";
    out.At(0, text, sizeof text - 1);
    return out.Error();
}

bool IsPowerOfTwo(uint64_t value) {
    return value && !(value & (value - 1));
}

bool ValidOptions(Kind kind, const Options& o) {
    if (!o.blockSize)
        return o.sectorSize == 512 || o.sectorSize == 4096;
    bool vhdx =
        kind == Kind::VhdxFixed || kind == Kind::VhdxDynamic || kind == Kind::VhdxBadChecksum;
    if (vhdx)
        return IsPowerOfTwo(o.blockSize) && o.blockSize >= vhdx::MiB &&
               o.blockSize <= 256 * vhdx::MiB;
    return IsPowerOfTwo(o.blockSize) && o.blockSize >= 4096;
}

} // namespace

DWORD CreateImage(const std::wstring& path, Kind kind, const Options& options) {
    if (!ValidOptions(kind, options))
        return ERROR_INVALID_PARAMETER;
    switch (kind) {
    case Kind::VhdFixed:
        return WriteVhdFixed(path, options);
    case Kind::VhdDynamic:
        return WriteVhdDynamic(path, options, false);
    case Kind::VhdDifferencing:
        return WriteVhdDynamic(path, options, true);
    case Kind::VhdxFixed:
        return WriteVhdx(path, options, true, false);
    case Kind::VhdxDynamic:
        return WriteVhdx(path, options, false, false);
    case Kind::VhdxBadChecksum:
        return WriteVhdx(path, options, false, true);
    case Kind::Iso9660:
        return WriteIso9660(path, options);
    case Kind::IsoUdf:
        return WriteIsoUdf(path, options);
    case Kind::VhdBadChecksum:
    case Kind::VhdTruncatedFooter:
    case Kind::VhdWrongSignature:
        return WriteMalformedVhd(path, options, kind);
    case Kind::Empty:
        return Writer(path).Error();
    case Kind::Text:
        return WriteText(path);
    }
    return ERROR_INVALID_PARAMETER;
}

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::VhdFixed:
        return "vhd-fixed";
    case Kind::VhdDynamic:
        return "vhd-dynamic";
    case Kind::VhdDifferencing:
        return "vhd-differencing";
    case Kind::VhdxFixed:
        return "vhdx-fixed";
    case Kind::VhdxDynamic:
        return "vhdx-dynamic";
    case Kind::Iso9660:
        return "iso9660";
    case Kind::IsoUdf:
        return "iso-udf";
    case Kind::VhdBadChecksum:
        return "vhd-bad-checksum";
    case Kind::VhdTruncatedFooter:
        return "vhd-truncated-footer";
    case Kind::VhdWrongSignature:
        return "vhd-wrong-signature";
    case Kind::VhdxBadChecksum:
        return "vhdx-bad-checksum";
    case Kind::Empty:
        return "empty";
    case Kind::Text:
        return "text";
    }
    return "?";
}

bool ParseKind(const std::string& name, Kind* kind) {
    for (Kind candidate : AllKinds)
        if (name == KindName(candidate)) {
            *kind = candidate;
            return true;
        }
    return false;
}

} // namespace imagegen
