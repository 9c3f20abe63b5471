#pragma once
#include <cstdint>
#include <string>

#include "archive/aknDetect.h"
#include "archive/aknTypes.h"

// The root of the archive component family: owns the archive's name, knows what
// kind of archive the file is, where its data begins and which volume of a set it
// is, and offers the file operations the family shares. Everything runs on the
// caller's thread; nothing here calls back except ReportOpenError, which the
// family's error machinery overrides to report the failure by number.
class TRegisterArkon {
 public:
  TRegisterArkon() = default;
  virtual ~TRegisterArkon();
  TRegisterArkon(const TRegisterArkon&) = delete;
  TRegisterArkon& operator=(const TRegisterArkon&) = delete;

  // An existing file is taken and typed; anything else leaves an empty name and atNA.
  const std::string& ArchiveFile() const { return FArchiveFile; }
  virtual void SetArchiveFile(const std::string& fileName);

  // Writing the type only types the current file again.
  TArcType ArcType() const { return FDetection.ArcType; }
  virtual void SetArcType(TArcType value);

  // The family's credit; writes keep the same text.
  std::string About() const;
  void SetAbout(const std::string& value);

  std::int64_t ArchiveSize() const { return FDetection.ArchiveSize; }
  std::int64_t ArchiveOffset() const { return FDetection.ArchiveOffset; }
  std::uint8_t LocatorFlags() const { return FDetection.LocatorFlags; }
  const TDetection& Detection() const { return FDetection; }

  std::int64_t WorkingOffset() const { return FWorkingOffset; }
  void SetWorkingOffset(std::int64_t value) { FWorkingOffset = value; }

  std::int32_t VolumeNumber() const { return FVolumeNumber; }
  void SetVolumeNumber(std::int32_t value) { FVolumeNumber = value; }

  static bool IsDecompressable(int type) { return DecompressableArcTypes.Contains(type); }

  // ---- the family's file operations, on one handle the component holds
  // Read access, others may read too. A failure leaves the size 0; success records it.
  bool OpenFileRead(const std::string& fileName);
  // Read and write access, others may read too. A failure is reported by number
  // (ReportOpenError) and gives false.
  bool OpenFileReadWrite(const std::string& fileName);
  bool SetFilePos(std::int64_t position);  // from the start of the file
  std::int64_t GetFileSize() const;        // -1 without an open file
  std::int64_t ReadFileBytes(void* buffer, std::int64_t count);
  std::int64_t WriteFileBytes(const void* buffer, std::int64_t count);
  bool CloseFileHandle();                  // true when there was a file and it closed
  int FileHandle() const { return FHandle; }

 protected:
  // Called with the file name when opening for reading and writing fails.
  virtual void ReportOpenError(const std::string& fileName);

 private:
  void Detect();

  std::string FArchiveFile;
  TDetection FDetection;
  std::int64_t FWorkingOffset = 1;
  std::int32_t FVolumeNumber = 0;
  int FHandle = -1;
};
