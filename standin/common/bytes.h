// Byte-order helpers for on-disk structures: VHD is big-endian, VHDX little-endian.
#pragma once
#include <cstdint>

inline uint16_t LoadBe16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
inline uint32_t LoadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t LoadBe64(const uint8_t* p) {
    return uint64_t(LoadBe32(p)) << 32 | LoadBe32(p + 4);
}
inline uint16_t LoadLe16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t LoadLe64(const uint8_t* p) {
    return LoadLe32(p) | uint64_t(LoadLe32(p + 4)) << 32;
}

inline void StoreBe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
    StoreBe16(p, uint16_t(v >> 16));
    StoreBe16(p + 2, uint16_t(v));
}
inline void StoreBe64(uint8_t* p, uint64_t v) {
    StoreBe32(p, uint32_t(v >> 32));
    StoreBe32(p + 4, uint32_t(v));
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    StoreLe16(p, uint16_t(v));
    StoreLe16(p + 2, uint16_t(v >> 16));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
    StoreLe32(p, uint32_t(v));
    StoreLe32(p + 4, uint32_t(v >> 32));
}

// One's complement of the byte sum, the checksum of VHD footers and dynamic headers.
inline uint32_t VhdChecksum(const uint8_t* p, uint32_t size, uint32_t checksumOffset) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size; ++i)
        if (i < checksumOffset || i >= checksumOffset + 4)
            sum += p[i];
    return ~sum;
}

// CRC-32C (Castagnoli), as VHDX headers and region tables use it; chain calls through `crc`.
inline uint32_t Crc32c(const uint8_t* p, uint64_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (uint64_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0x82F63B78 & (0u - (crc & 1)));
    }
    return ~crc;
}

// The VHDX checksum: CRC-32C of the structure with its own field at offset 4 taken as zero.
inline uint32_t VhdxChecksum(const uint8_t* p, uint32_t size) {
    const uint8_t zero[4] = {};
    return Crc32c(p + 8, size - 8, Crc32c(zero, 4, Crc32c(p, 4)));
}

inline bool AllZero(const uint8_t* p, uint64_t size) {
    for (uint64_t i = 0; i < size; ++i)
        if (p[i])
            return false;
    return true;
}
