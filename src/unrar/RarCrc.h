// CRC-32 (IEEE, reflected) for headers and unpacked data. The library carries its own so that
// it links nothing but the decompressor.
#pragma once
#include <cstddef>
#include <cstdint>

// Continues a CRC over more bytes; start with 0 for a fresh CRC.
uint32_t RarCrc32(uint32_t crc, const void* data, size_t size);

// One entry of the byte-wise CRC table; RAR 1.5 encryption mixes its keys with it.
uint32_t RarCrcTableEntry(uint8_t index);
