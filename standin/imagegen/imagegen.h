// Writes disk image files for tests and demos: well-formed VHD, VHDX and ISO images of any
// virtual size (sparse, so a huge disk costs nothing on disk) and the malformed kinds.
#pragma once
#include <cstdint>
#include <string>
#include <windows.h>

namespace imagegen {

enum class Kind {
    VhdFixed,
    VhdDynamic,
    VhdDifferencing,
    VhdxFixed,
    VhdxDynamic,
    Iso9660,
    IsoUdf,
    VhdBadChecksum,
    VhdTruncatedFooter,
    VhdWrongSignature,
    VhdxBadChecksum,
    Empty,
    Text,
};

struct Options {
    uint64_t virtualSize = 64ull << 20;
    uint32_t blockSize = 0;    // 0: the format's usual size (VHD 2 MiB, VHDX 32 MiB)
    uint32_t sectorSize = 512; // VHDX logical sector size
    std::wstring parent;       // differencing VHD: its parent image
    // One letter per block from the first; blocks past the end are holes.
    // D data, Z allocated all-zero data, E allocated with an empty sector bitmap, . hole.
    std::string pattern;
};

DWORD CreateImage(const std::wstring& path, Kind kind, const Options& options = {});

bool ParseKind(const std::string& name, Kind* kind);
const char* KindName(Kind kind);
constexpr Kind AllKinds[] = {Kind::VhdFixed,
                             Kind::VhdDynamic,
                             Kind::VhdDifferencing,
                             Kind::VhdxFixed,
                             Kind::VhdxDynamic,
                             Kind::Iso9660,
                             Kind::IsoUdf,
                             Kind::VhdBadChecksum,
                             Kind::VhdTruncatedFooter,
                             Kind::VhdWrongSignature,
                             Kind::VhdxBadChecksum,
                             Kind::Empty,
                             Kind::Text};

// The byte a 'D' block holds at a given offset of the virtual disk: never zero.
inline uint8_t DataByte(uint64_t virtualOffset) {
    return uint8_t(virtualOffset / 512 % 251 + 1);
}

} // namespace imagegen
