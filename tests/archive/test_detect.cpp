// Archive typing: the signature table, the executable paths, zero prefixes, UUE, TAR,
// ZIP and the volume number, on files made here and on the shared real archives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

#include "ArchiveTestFiles.h"
#include "archive/aknDetect.h"
#include "archive/aknRegister.h"

namespace {

const char* const TypeNames[] = {
    "atNA", "atUnsupported", "atFileOpenErr", "atUnknown", "atAce", "atAceExe", "atArc", "atArcExe",
    "atArj", "atArjExe", "atBh", "atBhExe", "atCab", "atGZip", "atHA", "atJar",
    "atJarExe", "atLha", "atLhaExe", "atLzh", "atLzhExe", "atMsGZ", "atPak", "atPakExe",
    "atRar", "atRarExe", "atTar", "atUUE", "atZip", "atZipExe", "atZipMV", "atZoo"};

std::string Name(TArcType t) { return TypeNames[t]; }

struct TSignatureCase {
  TBytes Sig;
  TArcType Plain;
  TArcType Embedded;
  bool Offset7717Plain;
  bool Offset7717Embedded;
  bool ZipSearch;
};

// Every row of the table, each alternative spelled out, and a few order checks.
const std::vector<TSignatureCase> SignatureCases = {
    {Text("PKG5"), atUnknown, atUnknown, false, false, false},
    {Text("MSCF"), atCab, atUnsupported, false, false, false},
    {Bytes({0xB7, 0xDF, 0x54, 0x57}), atArc, atArcExe, false, true, false},
    {Bytes({0x13, 0x5D, 0x65, 0x8C}), atMsGZ, atUnsupported, false, false, false},
    {Bytes({0x42, 0x48, 0x05, 0x07}), atBh, atBhExe, false, false, false},
    {Text("Rar!"), atRar, atRarExe, false, false, false},
    {Bytes({0x22, 0x33, '-', 'l'}), atLha, atLhaExe, false, false, false},
    {Bytes({'P', 'K', '-', 'l'}), atLha, atLhaExe, false, false, false},   // LHA is tested before ZIP
    {Bytes({0x1A, 0x09, '-', 'l'}), atLha, atLhaExe, false, false, false},  // and before ARC
    {Bytes({0x1A, 0x02, 0x41, 0x41}), atArc, atUnsupported, false, false, false},
    {Bytes({0x1A, 0x1E, 0x41, 0x41}), atArc, atUnsupported, false, false, false},
    {Bytes({0x1A, 0x08, 0x41, 0x41}), atArc, atArcExe, false, false, false},
    {Bytes({0x1A, 0x09, 0x41, 0x41}), atArc, atArcExe, false, false, false},
    {Bytes({0x1A, 0x0A, 0x41, 0x41}), atPak, atPakExe, false, false, false},
    {Bytes({0x1A, 0x0B, 0x41, 0x41}), atPak, atPakExe, false, false, false},
    {Bytes({0x1A, 0x0C, 0x41, 0x41}), atNA, atNA, false, false, false},
    {Bytes({0x1F, 0x1E, 0x41, 0x41}), atGZip, atUnsupported, false, false, false},
    {Bytes({0x25, 0x21, 0x41, 0x41}), atGZip, atUnsupported, false, false, false},
    {Bytes({0x1F, 0x8B, 0x08, 0x00}), atGZip, atUnsupported, false, false, false},
    {Bytes({0x1F, 0x9D, 0x41, 0x41}), atGZip, atUnsupported, false, false, false},
    {Bytes({0x1F, 0x9E, 0x41, 0x41}), atGZip, atUnsupported, false, false, false},
    {Bytes({0x1F, 0xA0, 0x41, 0x41}), atGZip, atUnsupported, false, false, false},
    {Bytes({0x1F, 0xA1, 0x41, 0x41}), atNA, atNA, false, false, false},
    {Text("HAxx"), atHA, atUnsupported, false, false, false},
    {Bytes({'P', 'K', 1, 2}), atZipMV, atZipMV, false, false, true},
    {Bytes({'P', 'L', 1, 2}), atZipMV, atZipMV, false, false, true},
    {Bytes({'P', 'M', 1, 2}), atZipMV, atZipMV, false, false, true},
    {Bytes({'P', 'N', 1, 2}), atZipMV, atZipMV, false, false, true},
    {Bytes({'P', 'K', 7, 8}), atZipMV, atZipMV, false, false, false},
    {Bytes({'P', 'L', 7, 8}), atZipMV, atZipMV, false, false, false},
    {Bytes({'P', 'M', 7, 8}), atZipMV, atZipMV, false, false, false},
    {Bytes({'P', 'N', 7, 8}), atZipMV, atZipMV, false, false, false},
    {Text("PKG4"), atNA, atNA, false, false, false},
    {Text("PLG4"), atNA, atNA, false, false, false},
    {Text("PMG4"), atNA, atNA, false, false, false},
    {Text("PNG4"), atNA, atNA, false, false, false},
    {Bytes({'P', 'K', 3, 4}), atZip, atZipExe, false, false, false},
    {Bytes({'P', 'L', 3, 4}), atZip, atZipExe, false, false, false},
    {Text("PMxx"), atZip, atZipExe, false, false, false},
    {Text("PNxx"), atZip, atZipExe, false, false, false},
    {Text("POxx"), atNA, atNA, false, false, false},
    {Text("ZOO "), atZoo, atUnsupported, false, false, false},
    {Bytes({0xB7, 0x92, 0x41, 0x41}), atArcExe, atArcExe, true, true, false},
    {Bytes({0xB7, 0xDF, 0x41, 0x41}), atArcExe, atArcExe, true, true, false},
    {Bytes({0x60, 0xEA, 0x41, 0x41}), atArj, atArjExe, false, false, false},
    {Bytes({0xEA, 0x60, 0x41, 0x41}), atNA, atNA, false, false, false},
    {Text("ABCD"), atNA, atNA, false, false, false},
};

TDetection Detect(const std::string& path) { return DetectArchive(path); }

TBytes Filler(std::size_t n, std::uint8_t value = 'x') { return TBytes(n, value); }

}  // namespace

TEST(SignatureTable, EveryRowInBothModes) {
  for (const TSignatureCase& c : SignatureCases) {
    SCOPED_TRACE(testing::PrintToString(c.Sig));
    const TSignatureHit plain = ClassifySignature(c.Sig.data(), false);
    const TSignatureHit embedded = ClassifySignature(c.Sig.data(), true);
    EXPECT_EQ(Name(plain.ArcType), Name(c.Plain));
    EXPECT_EQ(Name(embedded.ArcType), Name(c.Embedded));
    EXPECT_EQ(plain.Offset7717, c.Offset7717Plain);
    EXPECT_EQ(embedded.Offset7717, c.Offset7717Embedded);
    EXPECT_EQ(plain.ZipSearch, c.ZipSearch);
    EXPECT_EQ(embedded.ZipSearch, c.ZipSearch);
  }
}

// The same rows through whole files: at the start of an ordinary file, and at the
// end of an executable's DOS stub.
TEST(SignatureTable, EveryRowThroughFiles) {
  TTempDir dir;
  for (const TSignatureCase& c : SignatureCases) {
    SCOPED_TRACE(testing::PrintToString(c.Sig));
    if (c.ZipSearch || c.Plain == atZip || c.Plain == atZipMV) continue;  // ZIP files have their own tests
    const TDetection plain = Detect(WriteBytes(dir, "plain.bin", Concat(c.Sig, Filler(60))));
    if (IsRecognised(c.Plain)) {
      EXPECT_EQ(Name(plain.ArcType), Name(c.Plain));
      EXPECT_EQ(plain.ArchiveOffset, c.Offset7717Plain ? 7717 : 1);
    } else {
      EXPECT_FALSE(IsRecognised(plain.ArcType)) << Name(plain.ArcType);
    }

    // Two pages of 512 bytes: the stub ends at 1024.
    TBytes exe = DosHeader(2, 512);
    exe.resize(1024, 0);
    const TDetection embedded = Detect(WriteBytes(dir, "embedded.exe", Concat(Concat(exe, c.Sig), Filler(1020))));
    if (IsRecognised(c.Embedded)) {
      EXPECT_EQ(Name(embedded.ArcType), Name(c.Embedded));
      EXPECT_EQ(embedded.ArchiveOffset, c.Offset7717Embedded ? 7717 : 1025);
    } else {
      // Nothing else in the file: the scan from 17000 cannot run and finds nothing.
      EXPECT_EQ(Name(embedded.ArcType), Name(atNA));
      EXPECT_EQ(embedded.ArchiveOffset, 0);
    }
  }
}

TEST(Detection, SizeAndZeroPrefixes) {
  TTempDir dir;
  struct TCase {
    const char* What;
    TBytes Data;
    TArcType Type;
    std::int64_t Offset;
  };
  const TBytes rar = RarArchive();
  const std::vector<TCase> cases = {
      {"19 bytes", TBytes(rar.begin(), rar.begin() + 19), atNA, 1},
      {"20 bytes", TBytes(rar.begin(), rar.begin() + 20), atRar, 1},
      {"after 100 zeros", Concat(TBytes(100, 0), rar), atRar, 1},
      {"after other bytes", Concat(Filler(100), rar), atNA, 1},
      {"only zeros", TBytes(4000, 0), atNA, 1},
      {"ACE mark at 7", Concat(Text("abcdefg**ACE**"), Filler(40)), atAce, 1},
      {"PKG5 before a ZIP", Concat(Text("PKG5"), Zip()), atUnknown, 1},
      // A stub blanked out with zeros beyond the head buffer: embedded like a self-extractor.
      {"blank stub of 40000", Concat(TBytes(40000, 0), rar), atRarExe, 40001},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const TDetection d = Detect(WriteBytes(dir, "file.bin", c.Data));
    EXPECT_EQ(Name(d.ArcType), Name(c.Type));
    EXPECT_EQ(d.ArchiveOffset, c.Offset);
    EXPECT_EQ(d.ArchiveSize, static_cast<std::int64_t>(c.Data.size()));
  }
}

TEST(Detection, ExecutablePaths) {
  TTempDir dir;
  struct TCase {
    const char* What;
    TBytes Data;
    TArcType Type;
    std::int64_t Offset;
  };
  auto exeWith = [](std::size_t size, std::size_t at, const TBytes& what) {
    TBytes exe = DosHeader();
    exe.resize(size, 0);
    Put(exe, at, what);
    return exe;
  };
  const TBytes pk = Bytes({'P', 'K', 3, 4});
  TBytes arjAfterStub = DosHeader(2, 512);
  Put(arjAfterStub, 1024, Bytes({0x11, 0x22, 0x60, 0xEA, 0x33}));
  arjAfterStub.resize(2048, 0);
  const std::vector<TCase> cases = {
      {"Rar! at 20000 only", exeWith(21000, 20000, Text("Rar!")), atRarExe, 20001},
      {"ARC stub mark at 7716", exeWith(8000, 7716, Bytes({0x1A, 0x09})), atArcExe, 7717},
      {"ZIP stub at 7612", exeWith(8000, 7612, pk), atZipExe, 7612},
      {"ZIP stub at 25661", exeWith(26000, 25661, pk), atZipExe, 25661},
      {"ZIP at 7612 in a file of 7616", exeWith(7616, 7612, pk), atNA, 0},
      {"ARJ marker two bytes after the stub", arjAfterStub, atArjExe, 1027},
      {"scan: ACE", exeWith(20000, 18000, Text("**ACE**")), atAceExe, 17994},
      {"scan: LHA", exeWith(20000, 18000, Text("-lh5-")), atLhaExe, 17999},
      {"scan: BH", exeWith(20000, 18000, Bytes({0x42, 0x48, 0x05, 0x07})), atBhExe, 18001},
      {"scan: BH of the stub itself",
       exeWith(20000, 18000, Bytes({0x42, 0x48, 0x05, 0x07, 0x0F, 0x94, 0xC3, 0x84})), atNA, 0},
      {"scan: ZIP of the stub itself",
       exeWith(20000, 18000, Bytes({'P', 'K', 3, 4, 0x74, 0x0B, 0x3D, 0x00})), atNA, 0},
      {"scan: ZIP without a directory", exeWith(20000, 18000, pk), atZipExe, 18000},
      {"scan: first position wins", Concat(exeWith(19000, 18000, Text("Rar!")), Text("**ACE**xx")), atRarExe, 18001},
      {"Rar! before the scan start", exeWith(20000, 16000, Text("Rar!")), atNA, 0},
      {"Rar! beyond six blocks", exeWith(220000, 17000 + 6 * 32768, Text("Rar!")), atNA, 0},
      {"Rar! in the last scanned byte range", exeWith(220000, 17000 + 6 * 32768 - 4, Text("Rar!")), atRarExe,
       17000 + 6 * 32768 - 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const TDetection d = Detect(WriteBytes(dir, "file.exe", c.Data));
    EXPECT_EQ(Name(d.ArcType), Name(c.Type));
    EXPECT_EQ(d.ArchiveOffset, c.Offset);
  }
}

TEST(Detection, ZipStubSetsOnlyTheOffsetFlag) {
  TTempDir dir;
  TBytes exe = DosHeader();
  exe.resize(7612, 0);
  exe = Concat(exe, Zip());
  exe.resize(8000, 0);
  const TDetection d = Detect(WriteBytes(dir, "stub.exe", exe));
  EXPECT_EQ(Name(d.ArcType), Name(atZipExe));
  EXPECT_EQ(d.LocatorFlags, lfOffsetFound);
}

TEST(Detection, StringResources) {
  TTempDir dir;
  struct TCase {
    const char* What;
    std::map<int, std::u16string> Strings;
    TArcType Type;
    std::int64_t Offset;
  };
  const std::vector<TCase> cases = {
      {"string 1 names the archive", {{1, u"5000"}}, atRarExe, 5001},
      {"string 3 after two misses", {{1, u"999999"}, {2, u"100"}, {3, u"5000"}}, atRarExe, 5001},
      {"a longer number is read whole", {{1, u"0005000"}}, atRarExe, 5001},
      {"text stops the loop", {{1, u"abc"}, {2, u"5000"}}, atNA, 0},
      {"an empty string stops the loop", {{2, u"5000"}}, atNA, 0},
      {"string 5 is not read", {{1, u"-1"}, {2, u"9999999"}, {3, u"100"}, {4, u"101"}, {5, u"5000"}}, atNA, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TBytes exe = PeWithStrings(c.Strings);
    exe.resize(5000, 0);
    exe = Concat(exe, RarArchive());
    exe.resize(6000, 0);
    const TDetection d = Detect(WriteBytes(dir, "sfx.exe", exe));
    EXPECT_EQ(Name(d.ArcType), Name(c.Type));
    EXPECT_EQ(d.ArchiveOffset, c.Offset);
    if (c.Type != atNA) {
      EXPECT_NE(d.LocatorFlags & lfOffsetFound, 0);
    }
  }
}

TEST(Detection, ZipDirectory) {
  TTempDir dir;
  const TDetection plain = Detect(WriteBytes(dir, "a.zip", Zip()));
  EXPECT_EQ(Name(plain.ArcType), Name(atZip));
  EXPECT_EQ(plain.LocatorFlags, lfOffsetFound | lfCentralHeaderRead | lfEndRecordRead);
  EXPECT_EQ(plain.ArchiveOffset, 40);  // the directory follows the 40-byte entry
  EXPECT_EQ(plain.ZipCentralHeader[0], 'P');
  EXPECT_EQ(plain.ZipLocalHeader[2], 3);

  // A plain ZIP whose directory cannot be found keeps the zero-prefix count.
  TBytes noEnd = Concat(TBytes(3, 0), Zip());
  noEnd.resize(noEnd.size() - 22);
  const TDetection lost = Detect(WriteBytes(dir, "lost.zip", noEnd));
  EXPECT_EQ(Name(lost.ArcType), Name(atZip));
  EXPECT_EQ(lost.ArchiveOffset, 3);
  EXPECT_EQ(lost.LocatorFlags, lfOffsetFound);

  EXPECT_EQ(Name(Detect(WriteBytes(dir, "a.jar", Zip())).ArcType), Name(atJar));
  EXPECT_EQ(Name(Detect(WriteBytes(dir, "b.JAR", Zip())).ArcType), Name(atJar));
  EXPECT_EQ(Name(Detect(WriteBytes(dir, "c.jar.zip", Zip())).ArcType), Name(atZip));

  // Found only through the directory search: the disk field decides.
  const TDetection disk0 = Detect(WriteBytes(dir, "d0.bin", Concat(Filler(64), Zip(0))));
  EXPECT_EQ(Name(disk0.ArcType), Name(atZip));
  const TDetection disk1 = Detect(WriteBytes(dir, "d1.bin", Concat(Filler(64), Zip(1))));
  EXPECT_EQ(Name(disk1.ArcType), Name(atZipMV));

  // A directory that is not where the end record says: the first local header.
  TBytes moved = Concat(Filler(64), Zip());
  PutU32(moved, moved.size() - 6, 5);
  const TDetection first = Detect(WriteBytes(dir, "moved.bin", moved));
  EXPECT_EQ(Name(first.ArcType), Name(atZip));
  EXPECT_EQ(first.LocatorFlags & lfOffsetFound, lfOffsetFound);

  // A scrambled end record cannot be read.
  TBytes scrambled = Concat(Filler(64), Zip());
  scrambled[scrambled.size() - 21] = 'L';
  EXPECT_EQ(Name(Detect(WriteBytes(dir, "pl.bin", scrambled)).ArcType), Name(atNA));

  // A central header first: multi-volume.
  TBytes central = Zip();
  const TDetection mv = Detect(WriteBytes(dir, "mv.bin", TBytes(central.begin() + 40, central.end())));
  EXPECT_EQ(Name(mv.ArcType), Name(atZipMV));
}

TEST(Detection, UueAndTar) {
  TTempDir dir;
  struct TCase {
    const char* What;
    TBytes Data;
    TArcType Type;
    std::int64_t Offset;
  };
  const TBytes tarBody = Filler(512, 'd');
  const std::vector<TCase> cases = {
      {"UUE at the start", Text("begin 644 a.txt\nM86)C\n`\nend\n"), atUUE, 1},
      {"UUE after a line", Text("Subject: file\r\nbegin 755 a.sh\nM86)C\nend\n"), atUUE, 1},
      {"begin not at a line start", Text("xx begin 644 a.txt\nM86)C\nend\n"), atNA, 1},
      {"begin 5 is no UUE", Text("begin 544 a.txt\nM86)C\nend\n"), atNA, 1},
      {"UUE past 5000 bytes", Concat(Filler(5000, 'a'), Text("\nbegin 644 a\n")), atNA, 1},
      {"TAR", Concat(TarHeader("a.txt"), tarBody), atTar, 1},
      {"TAR after a volume label", Concat(Concat(TarHeader("LABEL", 'V'), TarHeader("a.txt")), tarBody), atTar, 513},
      {"TAR with a wrong checksum", Concat(TarHeader("a.txt", '0', true), tarBody), atNA, 1},
      {"TAR of 512 bytes", TarHeader("a.txt"), atNA, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const TDetection d = Detect(WriteBytes(dir, "file.bin", c.Data));
    EXPECT_EQ(Name(d.ArcType), Name(c.Type));
    EXPECT_EQ(d.ArchiveOffset, c.Offset);
  }
}

TEST(VolumeNumber, FromExtension) {
  struct TCase {
    const char* Name;
    TArcType Type;
    std::int32_t Volume;
  };
  const std::vector<TCase> cases = {
      {"set.rar", atRar, 0},       {"set.r00", atRar, 1},       {"set.r05", atRar, 6},
      {"set.001", atRar, 2},       {"set.R99", atRar, 100},     {"set.s12", atRarExe, 13},
      {"set.r0x", atRar, 0},       {"set.r0x", atArj, 1},       {"set.arj", atArj, 1},
      {"set.a01", atArj, 2},       {"set", atRar, 0},           {"set", atArj, 1},
      {"set.c05", atAce, 6},       {"set.r00", atZip, 0},       {"set.001", atRarExe, 2},
      {"v1.2/set", atRar, 0},      {"set.9999999999", atRar, 0}, {"set.2147483646", atRar, 2147483647},
      {"set.12r3", atRar, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(VolumeNumberFromName(c.Name, c.Type), c.Volume);
  }
}

TEST(RegisterArkon, ArchiveFileTypesAndNumbersTheFile) {
  TTempDir dir;
  TRegisterArkon arkon;
  EXPECT_EQ(arkon.ArcType(), atNA);

  const std::string r05 = WriteBytes(dir, "set.r05", RarArchive());
  arkon.SetArchiveFile(r05);
  EXPECT_EQ(arkon.ArchiveFile(), r05);
  EXPECT_EQ(arkon.ArcType(), atRar);
  EXPECT_EQ(arkon.VolumeNumber(), 6);
  EXPECT_EQ(arkon.ArchiveOffset(), 1);
  EXPECT_EQ(arkon.WorkingOffset(), 1);
  EXPECT_EQ(arkon.ArchiveSize(), static_cast<std::int64_t>(RarArchive().size()));

  arkon.SetWorkingOffset(77);
  arkon.SetArcType(atZip);  // only types the file again
  EXPECT_EQ(arkon.ArcType(), atRar);

  const std::string arj = WriteBytes(dir, "x.arj", Concat(Bytes({0x60, 0xEA}), Filler(40)));
  arkon.SetArchiveFile(arj);
  EXPECT_EQ(arkon.ArcType(), atArj);
  EXPECT_EQ(arkon.VolumeNumber(), 1);

  const std::string zip001 = WriteBytes(dir, "x.001", Zip());
  arkon.SetArchiveFile(zip001);
  EXPECT_EQ(arkon.ArcType(), atZip);
  EXPECT_EQ(arkon.VolumeNumber(), 0);

  arkon.SetArchiveFile(dir.File("missing.rar"));
  EXPECT_EQ(arkon.ArchiveFile(), "");
  EXPECT_EQ(arkon.ArcType(), atNA);
  EXPECT_EQ(arkon.VolumeNumber(), 0);

  arkon.SetArchiveFile(dir.Path());  // a folder is no archive
  EXPECT_EQ(arkon.ArcType(), atNA);
}

TEST(RegisterArkon, AboutAndSets) {
  TRegisterArkon arkon;
  const std::string credit = arkon.About();
  EXPECT_FALSE(credit.empty());
  arkon.SetAbout("something else");
  EXPECT_EQ(arkon.About(), credit);

  int decompressable = 0;
  int invalid = 0;
  for (int t = 0; t < ArcTypeCount; ++t) {
    decompressable += TRegisterArkon::IsDecompressable(t) ? 1 : 0;
    invalid += IsRecognised(static_cast<TArcType>(t)) ? 0 : 1;
  }
  EXPECT_EQ(decompressable, 23);
  EXPECT_EQ(invalid, 4);
  for (const TArcType t : {atHA, atJarExe, atMsGZ, atPak, atPakExe, atNA, atUnknown})
    EXPECT_FALSE(TRegisterArkon::IsDecompressable(t)) << Name(t);
  for (const TArcType t : {atRar, atRarExe, atZipMV, atUUE, atTar, atZoo})
    EXPECT_TRUE(TRegisterArkon::IsDecompressable(t)) << Name(t);
  EXPECT_FALSE(TRegisterArkon::IsDecompressable(32));
  EXPECT_FALSE(TRegisterArkon::IsDecompressable(255));
  EXPECT_FALSE(TRegisterArkon::IsDecompressable(-1));
}

namespace {

class TRecordingArkon : public TRegisterArkon {
 public:
  std::vector<std::string> Reported;

 protected:
  void ReportOpenError(const std::string& fileName) override { Reported.push_back(fileName); }
};

}  // namespace

TEST(RegisterArkon, FileOperations) {
  TTempDir dir;
  TRecordingArkon arkon;
  EXPECT_FALSE(arkon.OpenFileRead(dir.File("missing")));
  EXPECT_EQ(arkon.ArchiveSize(), 0);
  EXPECT_TRUE(arkon.Reported.empty());

  const std::string path = WriteBytes(dir, "data.bin", Text("0123456789"));
  ASSERT_TRUE(arkon.OpenFileRead(path));
  EXPECT_EQ(arkon.ArchiveSize(), 10);
  EXPECT_EQ(arkon.GetFileSize(), 10);
  EXPECT_TRUE(arkon.SetFilePos(4));
  char got[3] = {};
  EXPECT_EQ(arkon.ReadFileBytes(got, 3), 3);
  EXPECT_EQ(std::string(got, 3), "456");
  EXPECT_FALSE(arkon.SetFilePos(-5));
  EXPECT_TRUE(arkon.CloseFileHandle());
  EXPECT_FALSE(arkon.CloseFileHandle());
  EXPECT_EQ(arkon.GetFileSize(), -1);

  EXPECT_FALSE(arkon.OpenFileReadWrite(dir.File("missing")));
  ASSERT_EQ(arkon.Reported.size(), 1u);
  EXPECT_EQ(arkon.Reported[0], dir.File("missing"));

  ASSERT_TRUE(arkon.OpenFileReadWrite(path));
  EXPECT_TRUE(arkon.SetFilePos(8));
  EXPECT_EQ(arkon.WriteFileBytes("AB", 2), 2);
  EXPECT_TRUE(arkon.CloseFileHandle());
  ASSERT_TRUE(arkon.OpenFileRead(path));
  char all[10] = {};
  EXPECT_EQ(arkon.ReadFileBytes(all, 10), 10);
  EXPECT_EQ(std::string(all, 10), "01234567AB");
}

// Every real archive is RAR; the self-extractors carry their marker's position + 1.
TEST(RealSamples, EveryArchiveIsRar) {
  const char* env = std::getenv("TALLYRA_TESTDATA");
  const std::string root = env != nullptr ? env : TALLYRA_TESTDATA_DIR;
  const std::filesystem::path rarDir = std::filesystem::path(root) / "rar";
  const std::map<std::string, std::int64_t> selfExtractors = {
      {"test_read_format_rar_sfx.exe", 98817}, {"rar3-seektest.sfx", 728001}};
  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(rarDir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    const std::string ext = entry.path().extension().string();
    if (ext == ".exp" || ext == ".md" || name == "COPYING" || name == "LICENSE") continue;
    SCOPED_TRACE(name);
    ++seen;
    TRegisterArkon arkon;
    arkon.SetArchiveFile(entry.path().string());
    if (const auto sfx = selfExtractors.find(name); sfx != selfExtractors.end()) {
      EXPECT_EQ(Name(arkon.ArcType()), Name(atRarExe));
      EXPECT_EQ(arkon.ArchiveOffset(), sfx->second);
    } else if (entry.file_size() <= 19) {
      // Too short to hold marker and main header: never an archive.
      EXPECT_EQ(Name(arkon.ArcType()), Name(atNA));
    } else {
      EXPECT_EQ(Name(arkon.ArcType()), Name(atRar));
      EXPECT_EQ(arkon.ArchiveOffset(), 1);
    }
  }
  EXPECT_GE(seen, 70);
}

// RAR 5 archives (marker Rar! 1A 07 01 00) are RAR archives too; their self-extractors are
// found behind a blanked stub and after a big executable, where the scan does not reach.
TEST(RealSamples, EveryRar5ArchiveIsRar) {
  const char* env = std::getenv("TALLYRA_TESTDATA");
  const std::string root = env != nullptr ? env : TALLYRA_TESTDATA_DIR;
  const std::map<std::string, std::int64_t> selfExtractors = {{"rar5-crc.sfx", 128001},
                                                              {"test_read_format_rar5_sfx.exe", 316929}};
  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(root) / "rar5")) {
    const std::string name = entry.path().filename().string();
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || ext == ".exp" || ext == ".md" || name == "COPYING" || name == "LICENSE") continue;
    SCOPED_TRACE(name);
    ++seen;
    TRegisterArkon arkon;
    arkon.SetArchiveFile(entry.path().string());
    const auto sfx = selfExtractors.find(name);
    EXPECT_EQ(Name(arkon.ArcType()), Name(sfx != selfExtractors.end() ? atRarExe : atRar));
    EXPECT_EQ(arkon.ArchiveOffset(), sfx != selfExtractors.end() ? sfx->second : 1);
    EXPECT_TRUE(TRegisterArkon::IsDecompressable(arkon.ArcType()));
  }
  EXPECT_GE(seen, 60);
}

// An executable bigger than the scan reaches: what follows its last section is classified, and
// taken only when it is an archive.
TEST(Detection, TheDataAfterAnExecutablesLastSection) {
  TTempDir dir;
  const std::size_t sectionTable = 0x44 + 20 + 0xE0;
  const std::size_t end = 300000;
  for (const auto& [tail, type, offset] :
       {std::tuple<TBytes, TArcType, std::int64_t>{Text(std::string("Rar!\x1a\x07\x01\x00 and the rest", 20)), atRarExe,
                                                    std::int64_t(end) + 1},
        {Text("Rar!\x1a\x07\x00 and so on"), atRarExe, std::int64_t(end) + 1},
        {Text("ABCD not an archive"), atNA, 0}}) {
    TBytes pe = PeWithStrings({});
    PutU32(pe, sectionTable + 16, static_cast<std::uint32_t>(end - 0x200));  // the section's raw size
    pe.resize(end, 0);
    const TDetection d = Detect(WriteBytes(dir, "big.exe", Concat(pe, tail)));
    EXPECT_EQ(Name(d.ArcType), Name(type));
    EXPECT_EQ(d.ArchiveOffset, offset);
  }
}

// Truncated and damaged copies must never make detection read past the end or throw.
TEST(Detection, TruncatedFilesStayInBounds) {
  TTempDir dir;
  TBytes exe = PeWithStrings({{1, u"1100"}});
  exe.resize(1100, 0);
  exe = Concat(Concat(exe, Zip()), TarHeader("x"));
  for (std::size_t n = 0; n <= exe.size(); n += 7) {
    const TBytes part(exe.begin(), exe.begin() + static_cast<std::ptrdiff_t>(n));
    const TDetection d = Detect(WriteBytes(dir, "cut.exe", part));
    EXPECT_EQ(d.ArchiveSize, static_cast<std::int64_t>(n));
  }
  EXPECT_EQ(Name(Detect(WriteBytes(dir, "whole.exe", exe)).ArcType), Name(atZipExe));
}
