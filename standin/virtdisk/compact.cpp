// Compaction that keeps the virtual content: blocks that read as zeros are released, the
// others move down in file order, the tables are rewritten and the file is cut.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <rpc.h>

#include "images.h"
#include "standin/common/bytes.h"
#include "standin/common/formats.h"

namespace standin {
namespace {

using Bytes = std::vector<uint8_t>;

bool Truncate(HANDLE file, uint64_t size) {
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

DWORD LastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error ? error : fallback;
}

// A differencing block is only dropped when no sector in it is present: zeros that are
// present hide the parent's data.
DWORD CompactVhd(HANDLE file, const ImageInfo& info) {
    uint64_t size = FileSize(file);
    uint8_t footer[vhd::FooterSize];
    Bytes table(info.TableEntries * 4);
    if (!ReadAt(file, size - vhd::FooterSize, footer, sizeof footer) ||
        !ReadAt(file, info.TableOffset, table.data(), table.size()))
        return LastErrorOr(ERROR_READ_FAULT);
    std::vector<std::pair<uint64_t, uint64_t>> blocks; // (file offset, table index)
    for (uint64_t i = 0; i < info.TableEntries; ++i) {
        uint32_t sector = LoadBe32(&table[i * 4]);
        if (sector != vhd::UnusedBlock)
            blocks.emplace_back(uint64_t(sector) * vhd::SectorSize, i);
    }
    std::sort(blocks.begin(), blocks.end());
    uint32_t bitmapBytes = vhd::BitmapBytes(info.BlockSize);
    Bytes block(bitmapBytes + uint64_t(info.BlockSize));
    uint64_t next = info.DataFloor;
    for (auto [offset, index] : blocks) {
        if (offset < info.DataFloor)
            return ErrorVhdBlockAllocationTableCorrupt;
        if (!ReadAt(file, offset, block.data(), block.size()))
            return LastErrorOr(ERROR_READ_FAULT);
        bool drop = info.Subtype == SubtypeDifferencing
                        ? AllZero(block.data(), bitmapBytes)
                        : AllZero(block.data() + bitmapBytes, info.BlockSize);
        if (drop) {
            StoreBe32(&table[index * 4], vhd::UnusedBlock);
            continue;
        }
        if (offset != next && !WriteAt(file, next, block.data(), block.size()))
            return LastErrorOr(ERROR_WRITE_FAULT);
        StoreBe32(&table[index * 4], uint32_t(next / vhd::SectorSize));
        next += block.size();
    }
    if (!WriteAt(file, info.TableOffset, table.data(), table.size()) ||
        !WriteAt(file, next, footer, sizeof footer) || !Truncate(file, next + vhd::FooterSize))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return 0;
}

// The other header slot gets a higher sequence number and a new FileWriteGuid before
// anything else in the file changes, as the format requires of any writer.
DWORD BumpVhdxHeader(HANDLE file, const ImageInfo& info) {
    Bytes header(vhdx::HeaderSize);
    if (!ReadAt(file, vhdx::HeaderOffset[info.CurrentHeader], header.data(), header.size()))
        return LastErrorOr(ERROR_READ_FAULT);
    StoreLe64(&header[vhdx::HOffSequence], LoadLe64(&header[vhdx::HOffSequence]) + 1);
    UUID writeGuid;
    if (UuidCreate(&writeGuid) != RPC_S_OK)
        return ERROR_GEN_FAILURE;
    memcpy(&header[vhdx::HOffFileWriteGuid], &writeGuid, 16);
    StoreLe32(&header[4], VhdxChecksum(header.data(), vhdx::HeaderSize));
    if (!WriteAt(file, vhdx::HeaderOffset[1 - info.CurrentHeader], header.data(), header.size()) ||
        !FlushFileBuffers(file))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return 0;
}

DWORD CompactVhdx(HANDLE file, const ImageInfo& info) {
    if (info.Subtype == SubtypeDifferencing)
        return 0; // its blocks hide the parent's: nothing is released without sector bitmaps
    if (DWORD error = BumpVhdxHeader(file, info))
        return error;
    Bytes table(info.TableEntries * 8);
    if (!ReadAt(file, info.TableOffset, table.data(), table.size()))
        return LastErrorOr(ERROR_READ_FAULT);
    std::vector<std::pair<uint64_t, uint64_t>> blocks; // (file offset, table index)
    for (uint64_t b = 0; b < info.Blocks; ++b) {
        uint64_t index = vhdx::PayloadBatIndex(b, info.ChunkRatio);
        uint64_t entry = LoadLe64(&table[index * 8]);
        if ((entry & vhdx::StateMask) == vhdx::PayloadFullyPresent)
            blocks.emplace_back(entry >> 20 << 20, index);
    }
    std::sort(blocks.begin(), blocks.end());
    Bytes block(info.BlockSize);
    uint64_t next = info.DataFloor;
    for (auto [offset, index] : blocks) {
        if (offset < info.DataFloor)
            return ERROR_FILE_CORRUPT;
        if (!ReadAt(file, offset, block.data(), block.size()))
            return LastErrorOr(ERROR_READ_FAULT);
        if (AllZero(block.data(), block.size())) {
            StoreLe64(&table[index * 8], vhdx::PayloadNotPresent);
            continue;
        }
        if (offset != next && !WriteAt(file, next, block.data(), block.size()))
            return LastErrorOr(ERROR_WRITE_FAULT);
        StoreLe64(&table[index * 8], next | vhdx::PayloadFullyPresent);
        next += block.size();
    }
    if (!WriteAt(file, info.TableOffset, table.data(), table.size()) || !Truncate(file, next))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return 0;
}

} // namespace

DWORD CompactImage(HANDLE file, const ImageInfo& info) {
    SetLastError(0);
    return info.Device == DeviceVhd ? CompactVhd(file, info) : CompactVhdx(file, info);
}

} // namespace standin
