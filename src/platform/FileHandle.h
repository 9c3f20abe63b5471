#pragma once
#include <cstdint>
#include <string>

// Thin file-handle calls for the archive family's streams. A handle is a plain
// descriptor number; a negative value means "no file". Every call that fails
// returns -1 (or false) and leaves the error code in LastSystemError().

// Open modes as the family passes them: the low two bits choose the access, the
// next bits the sharing; fmCreate creates (or truncates) a file for writing.
enum : std::uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

// Sharing is kept with advisory locks, so it binds only openers that lock too:
// exclusive takes a write lock, deny-write and deny-read a shared one, and a
// conflicting lock makes the open fail at once instead of waiting. Only regular
// files open: a folder, device or pipe is refused.
int FileOpen(const std::string& path, std::uint32_t mode);
int FileCreate(const std::string& path);

// Whole transfers unless the file ends or an error occurs; -1 on error.
std::int64_t FileRead(int handle, void* buffer, std::int64_t count);
std::int64_t FileWrite(int handle, const void* buffer, std::int64_t count);

// Origins: 0 from the beginning, 1 from the current position, 2 from the end.
// Returns the new position, -1 on failure.
std::int64_t FileSeek(int handle, std::int64_t offset, int origin);

// Sets the end of the file at the current position.
bool FileSetEnd(int handle);

bool FileClose(int handle);
