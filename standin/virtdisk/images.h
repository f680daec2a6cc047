// Reading image files as the service does: which type a file is, and the facts the
// information queries and the compaction need.
#pragma once
#include <cstdint>
#include <string>
#include <windows.h>

namespace standin {

// Error codes of the virtual disk service that MinGW's headers do not name.
constexpr DWORD ErrorVhdDriveFooterMissing = 0xC03A0001;
constexpr DWORD ErrorVhdDriveFooterChecksumMismatch = 0xC03A0002;
constexpr DWORD ErrorVhdFormatUnknown = 0xC03A0004;
constexpr DWORD ErrorVhdFormatUnsupportedVersion = 0xC03A0005;
constexpr DWORD ErrorVhdSparseHeaderChecksumMismatch = 0xC03A0006;
constexpr DWORD ErrorVhdSparseHeaderCorrupt = 0xC03A0008;
constexpr DWORD ErrorVhdBlockAllocationTableCorrupt = 0xC03A000A;
constexpr DWORD ErrorVhdInvalidBlockSize = 0xC03A000B;
constexpr DWORD ErrorVhdParentVhdNotFound = 0xC03A000D;
constexpr DWORD ErrorVhdChildParentIdMismatch = 0xC03A000E;
constexpr DWORD ErrorVhdInvalidFileSize = 0xC03A0013;
constexpr DWORD ErrorVirtdiskProviderNotFound = 0xC03A0014;
constexpr DWORD ErrorVirtdiskNotVirtualDisk = 0xC03A0015;
constexpr DWORD ErrorVhdInvalidType = 0xC03A001B;
constexpr DWORD ErrorVhdInvalidState = 0xC03A001C;

constexpr DWORD DeviceIso = 1, DeviceVhd = 2, DeviceVhdx = 3;
constexpr DWORD SubtypeFixed = 2, SubtypeDynamic = 3, SubtypeDifferencing = 4;

struct ImageInfo {
    DWORD Device = 0;
    DWORD Subtype = 0;
    uint64_t VirtualSize = 0;
    uint32_t BlockSize = 0;
    uint32_t SectorSize = 0;
    // Where the allocation table lives, for the compaction.
    uint64_t TableOffset = 0;
    uint64_t TableEntries = 0;
    uint64_t DataFloor = 0; // nothing but blocks lies at or after this offset
    // VHDX only.
    uint64_t Blocks = 0;
    uint64_t ChunkRatio = 0;
    int CurrentHeader = 0;
    bool LogPending = false;
};

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, uint64_t size);
bool WriteAt(HANDLE file, uint64_t offset, const void* buffer, uint64_t size);
uint64_t FileSize(HANDLE file);

// 0 when the file holds an image of the given device type; else the service's refusal code.
DWORD ProbeImage(HANDLE file, const std::wstring& path, DWORD device, ImageInfo* info);

// Gives back all-zero blocks of a dynamic or differencing image, keeping its content.
DWORD CompactImage(HANDLE file, const ImageInfo& info);

} // namespace standin
