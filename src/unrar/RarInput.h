// The seam between where packed bytes come from and what consumes them. An entry's packed data
// is read through a chain of these: its parts across volumes, then a decryptor when the entry is
// encrypted, then a decoder (or a plain copy for stored data). Every stage pulls from the one
// below on demand, so nothing is copied whole and volumes are read as the data reaches them.
#pragma once
#include <cstddef>
#include <cstdint>

class IPackedInput {
 public:
  virtual ~IPackedInput() = default;
  // Reads up to `size` bytes into `buffer` and sets `got` to how many were read; `got` is 0 only at
  // the end of the data. Returns 0, or the ERAR_ code that ends the entry (read error, missing
  // volume, ...). A stage may return fewer bytes than asked for before the end.
  virtual int Read(uint8_t* buffer, size_t size, size_t& got) = 0;
};
