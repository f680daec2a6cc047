// Layout constants of the image formats, shared by the stand-in service and the image maker.
#pragma once
#include <cstdint>
#include <windows.h>

namespace vhd {
constexpr uint32_t FooterSize = 512;
constexpr uint32_t HeaderSize = 1024;
constexpr uint32_t SectorSize = 512;
constexpr uint32_t DefaultBlockSize = 2u << 20;
constexpr uint32_t TypeFixed = 2, TypeDynamic = 3, TypeDifferencing = 4;
constexpr uint32_t UnusedBlock = 0xFFFFFFFF;
// Footer fields.
constexpr uint32_t OffCookie = 0, OffFeatures = 8, OffVersion = 12, OffDataOffset = 16,
                   OffTimestamp = 24, OffCreatorApp = 28, OffCreatorVersion = 32, OffCreatorOs = 36,
                   OffOriginalSize = 40, OffCurrentSize = 48, OffGeometry = 56, OffDiskType = 60,
                   OffChecksum = 64, OffUniqueId = 68;
// Dynamic header fields.
constexpr uint32_t HOffCookie = 0, HOffDataOffset = 8, HOffTableOffset = 16, HOffVersion = 24,
                   HOffMaxEntries = 28, HOffBlockSize = 32, HOffChecksum = 36, HOffParentId = 40,
                   HOffParentTime = 56, HOffParentName = 64, HOffLocators = 576;
constexpr uint32_t LocatorCount = 8, LocatorSize = 24;
constexpr uint32_t PlatformW2ku = 0x57326B75, PlatformW2ru = 0x57327275;
inline uint32_t BitmapBytes(uint32_t blockSize) {
    return (blockSize / SectorSize / 8 + SectorSize - 1) / SectorSize * SectorSize;
}
} // namespace vhd

namespace vhdx {
constexpr uint64_t KiB = 1024, MiB = 1024 * KiB;
constexpr uint64_t HeaderOffset[2] = {64 * KiB, 128 * KiB};
constexpr uint64_t RegionTableOffset[2] = {192 * KiB, 256 * KiB};
constexpr uint32_t HeaderSize = 4096;
constexpr uint32_t RegionTableSize = 64 * 1024;
constexpr uint32_t MetadataTableSize = 64 * 1024;
// Header fields.
constexpr uint32_t HOffSequence = 8, HOffFileWriteGuid = 16, HOffDataWriteGuid = 32,
                   HOffLogGuid = 48, HOffLogVersion = 64, HOffVersion = 66, HOffLogLength = 68,
                   HOffLogOffset = 72;
// File parameter flags.
constexpr uint32_t LeaveBlocksAllocated = 1, HasParent = 2;
// BAT entry states.
constexpr uint64_t StateMask = 7;
constexpr uint64_t PayloadNotPresent = 0, PayloadFullyPresent = 6;
inline uint64_t ChunkRatio(uint32_t logicalSector, uint32_t blockSize) {
    return (uint64_t(1) << 23) * logicalSector / blockSize;
}
inline uint64_t PayloadBatIndex(uint64_t block, uint64_t chunkRatio) {
    return block + block / chunkRatio;
}

// Region and metadata item identifiers, in their on-disk (Microsoft) byte order.
constexpr GUID BatRegion = {
    0x2DC27766, 0xF623, 0x4200, {0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08}};
constexpr GUID MetadataRegion = {
    0x8B7CA206, 0x4790, 0x4B9A, {0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E}};
constexpr GUID FileParameters = {
    0xCAA16737, 0xFA36, 0x4D43, {0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B}};
constexpr GUID VirtualDiskSize = {
    0x2FA54224, 0xCD1B, 0x4876, {0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8}};
constexpr GUID LogicalSectorSize = {
    0x8141BF1D, 0xA96F, 0x4709, {0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F}};
constexpr GUID PhysicalSectorSize = {
    0xCDA348C7, 0x445D, 0x4471, {0x9C, 0xC9, 0xE9, 0x88, 0x52, 0x51, 0xC5, 0x56}};
constexpr GUID Page83Data = {
    0xBECA12AB, 0xB2E6, 0x4523, {0x93, 0xEF, 0xC3, 0x09, 0xE0, 0x00, 0xC7, 0x46}};
} // namespace vhdx

namespace iso {
constexpr uint32_t SectorSize = 2048;
constexpr uint32_t DescriptorSector = 16;
constexpr uint64_t MinimumSize = 17 * 2048; // the system area and one descriptor
constexpr uint32_t UdfAnchorSector = 256;
} // namespace iso
