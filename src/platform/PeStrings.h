#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Reads numbered strings from the string table of a PE executable (what Windows
// hands out after loading a file as a data-only module). Only the headers and the
// resource tree are read, never code. Every read is bounded by the size given, so
// a damaged or hostile file yields fewer strings, never a read past its end.

// Reads up to count bytes at position into buffer; returns how many it delivered.
// Called synchronously on the caller's thread, never with a range past the size
// given; an exception it throws leaves ReadPeStrings unchanged.
using TPeReadAt = std::function<std::size_t(std::uint64_t position, void* buffer, std::size_t count)>;

// Strings firstId .. firstId + count - 1 as UTF-8, one slot each; a string the
// table lacks, or any string of a file that is not a PE executable, is empty.
// Where a string exists in several languages, US English wins, then neutral,
// then the first one listed.
std::vector<std::string> ReadPeStrings(const TPeReadAt& readAt, std::uint64_t size,
                                       unsigned firstId, unsigned count);
std::vector<std::string> ReadPeStrings(const std::string& path, unsigned firstId, unsigned count);

// Where the data appended to a PE executable begins (the end of its last section's raw
// data), which is where self-extractors keep their archive; nothing for a file that is not a
// PE executable or has nothing after its sections.
std::optional<std::uint64_t> PeOverlayOffset(const TPeReadAt& readAt, std::uint64_t size);
