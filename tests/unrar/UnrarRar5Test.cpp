// RAR 5 through the C ABI: solid streams whatever the caller skips, a failure inside a stream,
// dictionaries beyond the machine, volumes through the change-volume callback, and the
// extended record's RAR 5 fields (times, hashes, dictionary, links) with the times the files get.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "Rar5TestSupport.h"
#include "Rar5Writer.h"
#include "RarWriter.h"
#include "UnrarTestSupport.h"
#include "unrar/Rar5Unpack.h"
#include "unrar/RarArchive.h"

namespace fs = std::filesystem;

namespace {

std::string Text(size_t size, unsigned seed) {
  static const char* words[] = {"solid ", "stream ", "window ", "of ", "the ", "entry\n", "skipped ", "volume "};
  std::string s;
  for (unsigned x = seed; s.size() < size; x = x * 1103515245u + 12345u) s += words[(x >> 16) % 8];
  s.resize(size);
  return s;
}

TRar5TestFile Compressed(const std::string& name, std::string data) {
  TRar5TestFile f;
  f.Name = name;
  f.Data = std::move(data);
  return f;
}

// Which entries of a set are processed (the rest skipped), as a row of 'x' and '-'.
std::function<bool(size_t, const TAbiEntry&)> Pattern(const std::string& row) {
  return [row](size_t index, const TAbiEntry&) { return index < row.size() && row[index] == 'x'; };
}

// Solid entries come out right whichever of the entries before them the caller skipped: the
// real 7-entry sample, and a written set over ten volumes whose files span volume boundaries.
TEST(UnrarRar5, SolidStreamsComeOutWhateverTheCallerSkips) {
  TTempDir dir;
  std::vector<TRar5TestFile> files;
  for (int i = 0; i < 6; ++i) files.push_back(Compressed("f" + std::to_string(i) + ".txt", Text(40000, unsigned(i % 3))));
  TRar5WriterOptions o;
  o.Solid = true;
  o.VolumeSize = 4000;
  o.PartDigits = 2;
  const std::vector<std::string> volumes = WriteRar5Set(dir.File("solid.part01.rar"), files, o);
  ASSERT_GE(volumes.size(), 10u);
  struct TSet {
    std::string First;
    size_t Entries;
  } sets[] = {{TestDataPath("rar5/libarchive/test_read_format_rar5_solid.rar"), 7}, {volumes.front(), files.size()}};
  for (const auto& set : sets) {
    for (const char* row : {"xxxxxxx", "------x", "-x-x-x-", "x-----x", "---x---", "-------"}) {
      SCOPED_TRACE(set.First + " " + row);
      TAbiOptions options;
      options.Wanted = Pattern(row);
      TAbiRun run = RunThroughAbi(set.First, options);
      EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
      ASSERT_EQ(run.Entries.size(), set.Entries);
      for (size_t i = 0; i < set.Entries; ++i) {
        const TAbiEntry& e = run.Entries[i];
        EXPECT_EQ(e.Result, ERAR_SUCCESS) << e.Name;
        if (row[i] == 'x') {
          EXPECT_EQ(e.Bytes, e.UnpSize) << e.Name;
          // A split file's record is its first part's CRC; the data is held against the writer's.
          EXPECT_EQ(e.Crc, (e.Flags & 0x02) ? RarTestCrc(files[i].Data) : e.FileCRC) << e.Name;
        } else {
          EXPECT_EQ(e.Bytes, 0u) << e.Name;  // a skipped entry sends the caller nothing
        }
      }
    }
  }
}

// A damaged entry ends its solid stream: it fails, and so does every later entry of the stream,
// whether the caller wanted the damaged one or skipped it, and nothing crashes or hangs.
TEST(UnrarRar5, AFailureEndsItsSolidStreamCleanly) {
  TTempDir dir;
  std::vector<TRar5TestFile> files;
  for (int i = 0; i < 4; ++i) files.push_back(Compressed("s" + std::to_string(i), Text(30000, 7)));
  TRar5WriterOptions o;
  o.Solid = true;
  const std::string path = WriteRar5Set(dir.File("solid.rar"), files, o).front();
  TRar5Walk walk = WalkRar5(path);
  ASSERT_EQ(walk.Entries.size(), 4u);
  std::string image = ReadWholeFile(path);
  // The second entry's block header: its check byte no longer matches.
  image[size_t(walk.Entries[1].Parts[0].Offset) + 1] ^= 0x55;
  const std::string damaged = dir.Write("damaged.rar", image);
  for (const char* row : {"xxxx", "x-xx", "--x-"}) {
    SCOPED_TRACE(row);
    TAbiOptions options;
    options.Wanted = Pattern(row);
    TAbiRun run = RunThroughAbi(damaged, options);
    ASSERT_EQ(run.Entries.size(), 4u);
    EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
    for (size_t i = 0; i < 4; ++i) {
      const int expected = row[i] != 'x' ? ERAR_SUCCESS : i == 0 ? ERAR_SUCCESS : ERAR_BAD_DATA;
      EXPECT_EQ(run.Entries[i].Result, expected) << i;
    }
  }
  // Extracted, the failed entries leave no files.
  TAbiOptions extract;
  extract.Operation = RAR_EXTRACT;
  extract.Dest = dir.File("out");
  RunThroughAbi(damaged, extract);
  EXPECT_TRUE(fs::exists(dir.File("out/s0")));
  for (const char* name : {"s1", "s2", "s3"}) EXPECT_FALSE(fs::exists(dir.File(std::string("out/") + name))) << name;
}

// A window the machine cannot give is refused with 11 before anything is written.
TEST(UnrarRar5, ADictionaryBeyondTheMachineIsOutOfMemory) {
  TTempDir dir;
  TRar5WriterOptions o;
  o.DictSize = 4u << 20;
  const std::string path = WriteRar5Set(dir.File("big.rar"), {Compressed("big.txt", Text(3u << 20, 3))}, o).front();
  const uint64_t saved = TRar5Unpacker::MemoryLimit;
  TRar5Unpacker::MemoryLimit = 1u << 20;
  int result = -1;
  auto archive = TRarArchive::OpenFile(path, false, result);
  ASSERT_TRUE(archive);
  TRarEntryHeader header;
  std::string volume;
  ASSERT_EQ(archive->ReadHeader(header, volume), ERAR_SUCCESS);
  const std::string dest = dir.File("out");
  EXPECT_EQ(archive->ProcessFile(RAR_EXTRACT, dest.c_str(), nullptr), ERAR_NO_MEMORY);
  TRar5Unpacker::MemoryLimit = saved;
  EXPECT_FALSE(fs::exists(dir.File("out/big.txt")));
}

// A missing volume is asked for through the callback: the name the caller gives is taken, and
// without one the entry that needs it fails with 15.
TEST(UnrarRar5, AMissingVolumeIsAskedForThroughTheCallback) {
  TTempDir dir;
  const std::string from = TestDataPath("rar5/rarfile/rar5-vols.part");
  fs::copy_file(from + "1.rar", dir.File("v.part1.rar"));
  fs::copy_file(from + "2.rar", dir.File("elsewhere.rar"));
  fs::copy_file(from + "3.rar", dir.File("v.part3.rar"));
  // The callback refers to this test's locals: it must not outlive them.
  struct TForget {
    ~TForget() { Log() = TCallbackLog{}; }
  } forget;
  for (bool answer : {true, false}) {
    SCOPED_TRACE(answer);
    Log() = TCallbackLog{};
    Log().OnVolume = [&](std::string& name, int mode) {
      if (mode == RAR_VOL_ASK && answer) name = dir.File("elsewhere.rar");
      return mode == RAR_VOL_NOTIFY || answer ? 1 : 0;
    };
    TAbiRun run = RunThroughAbi(dir.File("v.part1.rar"));
    ASSERT_FALSE(run.Entries.empty());
    EXPECT_EQ(Log().VolumeCalls.front(), (std::pair<int, std::string>{RAR_VOL_ASK, dir.File("v.part2.rar")}));
    if (answer) {
      ASSERT_EQ(run.Entries.size(), 2u);
      EXPECT_EQ(run.Entries[0].Result, ERAR_SUCCESS);
      EXPECT_EQ(run.Entries[0].Crc, 0x509ad74cu);
      EXPECT_EQ(run.Entries[1].Crc, 0xd08a1f86u);
      // The set's own naming goes on after the renamed volume.
      EXPECT_EQ(Log().VolumeCalls.back(), (std::pair<int, std::string>{RAR_VOL_NOTIFY, dir.File("v.part3.rar")}));
    } else {
      EXPECT_EQ(run.Entries[0].Result, ERAR_EOPEN);
      EXPECT_EQ(run.Entries.size(), 1u);
    }
  }
}

uint64_t FileTime(int64_t seconds, uint32_t nanoseconds) {
  return uint64_t(seconds + 11644473600) * 10000000u + nanoseconds / 100;
}

// The record's times come from the RAR 5 time record with their fractions (as rarfile lists
// them), and the extracted file gets them to the nanosecond.
TEST(UnrarRar5, TimesInTheRecordAndOnTheFiles) {
  struct TCase {
    const char* Sample;
    int64_t Mtime;
    uint32_t MtimeNs;
    int64_t Atime;  // 0: none recorded
  } cases[] = {
      {"rar5-times2.rar", 1305052127, 899345100, 0},  // 2011-05-10T18:28:47.8993451
      {"rar5-times.rar", 1307872413, 0, 1463908356},  // 2011-06-12T09:53:33, atime 2016-05-22T09:12:36
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sample);
    TTempDir dir;
    TOpenedArchive h(TestDataPath(std::string("rar5/rarfile/") + c.Sample));
    ASSERT_TRUE(h.Handle);
    auto record = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);
    EXPECT_EQ(uint64_t(record->MtimeHigh) << 32 | record->MtimeLow, FileTime(c.Mtime, c.MtimeNs));
    EXPECT_EQ(uint64_t(record->AtimeHigh) << 32 | record->AtimeLow, c.Atime ? FileTime(c.Atime, 0) : 0);
    EXPECT_EQ(uint64_t(record->CtimeHigh) << 32 | record->CtimeLow, 0u);
    std::string dest = dir.Path();
    ASSERT_EQ(RARProcessFile(h.Handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::stat(dir.File(record->FileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, c.Mtime);
    EXPECT_EQ(st.st_mtim.tv_nsec, long(c.MtimeNs));
    if (c.Atime) {
      EXPECT_EQ(st.st_atim.tv_sec, c.Atime);
    }
  }
}

// Hash, dictionary, host and method of real entries; a link's target goes into the caller's
// buffer whole, or not at all when it does not fit, and no buffer is touched that was not given.
TEST(UnrarRar5, TheRecordsRar5Fields) {
  {
    TOpenedArchive h(TestDataPath("rar5/rarfile/rar5-blake.rar"));
    auto record = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);
    EXPECT_STREQ(record->FileName, "stest1.txt");
    EXPECT_EQ(record->HashType, unsigned(RAR_HASH_BLAKE2));
    EXPECT_EQ(HexOf(reinterpret_cast<const uint8_t*>(record->Hash), 32),
              "7cd5c1ac31f0cf58844a57fb9072c44768dbea1456e37c21e491f4853982ede0");
    EXPECT_EQ(record->UnpVer, 50u);
    EXPECT_EQ(record->HostOS, 3u);
    EXPECT_EQ(record->Method, 0x33u);
    EXPECT_EQ(record->DictSize, 128u);
    EXPECT_EQ(record->RedirType, 0u);
  }
  {
    TOpenedArchive h(TestDataPath("rar5/rarfile/rar5-solid.rar"));
    auto record = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);
    EXPECT_EQ(record->DictSize, 1024u);
    EXPECT_EQ(record->HashType, unsigned(RAR_HASH_CRC32));
  }
  for (size_t room : {size_t(0), size_t(8), size_t(9), size_t(64)}) {
    SCOPED_TRACE(room);
    TOpenedArchive h(TestDataPath("rar5/libarchive/test_read_format_rar5_symlink.rar"));
    auto record = std::make_unique<RARHeaderDataEx>();
    std::vector<wchar_t> target(64, L'#');
    ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);  // file.txt
    record->RedirName = room ? target.data() : nullptr;
    record->RedirNameSize = unsigned(room);
    ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);
    EXPECT_STREQ(record->FileName, "symlink.txt");
    EXPECT_EQ(record->RedirType, 1u);
    EXPECT_EQ(record->DirTarget, 0u);
    EXPECT_EQ(record->HashType, unsigned(RAR_HASH_NONE));
    // "file.txt" and its terminating zero need 9.
    if (room == 0) {
      EXPECT_EQ(target[0], L'#');
    } else {
      EXPECT_EQ(std::wstring(target.data()), room >= 9 ? L"file.txt" : L"");
    }
  }
  TOpenedArchive evil(TestDataPath("rar5/rarfile/rar5-evil-symlink-traversal.rar"));
  auto record = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(RARReadHeaderEx(evil.Handle, record.get()), ERAR_SUCCESS);
  EXPECT_EQ(record->DirTarget, 1u);
}

}  // namespace
