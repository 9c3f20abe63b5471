// Round trips through the RAR 5 test writer and our library, with unar and bsdtar decoding the
// same archives as black boxes, so that the writer is never the only judge of the decoder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "Rar5TestSupport.h"
#include "Rar5Writer.h"
#include "UnrarTestSupport.h"
#include "unrar/unrar.h"

namespace fs = std::filesystem;

namespace {

std::string Words(size_t size, unsigned seed) {
  static const char* words[] = {"archive ", "volume ", "solid ", "dictionary ", "window ", "filter ",
                                "the ", "of ", "and ", "checksum\n", "header ", "entry "};
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < size) s += words[random() % 12];
  s.resize(size);
  return s;
}

std::string Noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = char(random());
  return s;
}

// Code-like bytes: CALL and JMP opcodes with nearby targets, which the E8 filters convert.
std::string X86(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s = Words(size, seed);
  for (size_t i = 0; i + 5 < size; i += 5 + random() % 30) {
    s[i] = char(random() % 3 ? 0xE8 : 0xE9);
    int32_t target = int32_t(random() % 200000) - 100000;
    for (int k = 0; k < 4; ++k) s[i + 1 + size_t(k)] = char(uint32_t(target) >> (8 * k));
  }
  return s;
}

// ARM code: BL instructions (condition "always") every few words.
std::string Arm(size_t size, unsigned seed) {
  std::string s = Noise(size, seed);
  for (size_t i = 3; i < size; i += 12) s[i] = char(0xEB);
  return s;
}

// Interleaved samples (a stereo 16-bit sound, say), which DELTA turns into small differences.
std::string Samples(size_t size, unsigned channels) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char((i % channels) * 40 + (i / channels) * (i % channels + 1) / 3);
  return s;
}

TRar5TestFile File(const std::string& name, std::string data, bool compress = true,
                   TRar5Filter filter = TRar5Filter::None) {
  TRar5TestFile f;
  f.Name = name;
  f.Data = std::move(data);
  f.Compress = compress;
  f.Filter = filter;
  return f;
}

// Runs a tool with its arguments; its exit status.
int RunTool(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const char* tool) { return RunTool({"sh", "-c", std::string("command -v ") + tool}) == 0; }

struct TCase {
  const char* Label;
  std::vector<TRar5TestFile> Files;
  TRar5WriterOptions Options;
  bool Unar = true, Bsdtar = true;  // what the other tools read correctly
};

std::vector<TCase> Cases() {
  std::vector<TCase> cases;
  auto add = [&cases](const char* label, std::vector<TRar5TestFile> files, TRar5WriterOptions o = {}) {
    // libarchive 3.6 refuses blocks whose size takes three bytes, which valid archives may have.
    o.BlockInput = std::min<size_t>(o.BlockInput, 48u << 10);
    cases.push_back({label, std::move(files), o});
    return &cases.back();
  };
  add("stored", {File("a.txt", Words(5000, 1), false), File("dir/b.bin", Noise(3000, 2), false)});
  add("compressed text and noise", {File("text.txt", Words(600000, 3)), File("noise.bin", Noise(100000, 4))});
  add("empty and tiny", {File("empty", ""), File("one", "x"), File("two", "xy")});
  add("E8", {File("code.exe", X86(300000, 5), true, TRar5Filter::E8)});
  add("E8E9", {File("code.dll", X86(300000, 6), true, TRar5Filter::E8E9)});
  add("ARM", {File("code.arm", Arm(200000, 7), true, TRar5Filter::Arm)});
  auto delta = File("sound.wav", Samples(250000, 4), true, TRar5Filter::Delta);
  auto delta3 = File("image.bmp", Samples(99999, 3), true, TRar5Filter::Delta);
  delta3.DeltaChannels = 3;
  add("DELTA", {delta, delta3});
  TRar5WriterOptions small;
  small.FilterBlock = 70000;
  add("many filter blocks", {File("code.exe", X86(400000, 8), true, TRar5Filter::E8)}, small);
  TRar5WriterOptions solid;
  solid.Solid = true;
  add("solid", {File("1.txt", Words(100000, 9)), File("2.txt", Words(100000, 9)), File("3.bin", Noise(50000, 10))},
      solid);
  // x86 addresses count from the start of each entry, not of the set.
  add("solid with filters", {File("1.txt", Words(100000, 24)), File("2.exe", X86(200000, 25), true, TRar5Filter::E8),
                             File("3.bmp", Samples(30000, 3), true, TRar5Filter::Delta)},
      solid);
  // A stored entry inside a solid set stays out of the window (as bsdtar also has it; unar
  // differs here).
  add("solid around a stored entry", {File("1.txt", Words(100000, 9)), File("stored.txt", Words(1000, 11), false),
                                      File("2.txt", Words(120000, 9))},
      solid)
      ->Unar = false;
  auto blake = File("hashed.txt", Words(200000, 12));
  blake.Blake2 = true;
  auto blakeStored = File("hashed.bin", Noise(5000, 13), false);
  blakeStored.Blake2 = true;
  add("BLAKE2sp", {blake, blakeStored});
  TRar5WriterOptions tables;
  tables.TablesOncePerEntry = true;
  tables.BlockInput = 20000;
  add("tables in the first block only", {File("text.txt", Words(300000, 14))}, tables);
  // A window that wraps many times: repeats farther back than the 128 KiB dictionary holds.
  TRar5WriterOptions wrap;
  wrap.DictSize = 128u << 10;
  std::string periodic;
  std::string unit = Noise(100000, 15);
  while (periodic.size() < 1500000) periodic += unit.substr(0, 100000 - periodic.size() % 997);
  // unar spoils the first bytes of each round of a window as small as the dictionary.
  add("small dictionary, wrapping window", {File("periodic.bin", periodic)}, wrap)->Unar = false;
  // Filter blocks that lie across the window's end.
  TRar5WriterOptions boundary;
  boundary.DictSize = 128u << 10;
  boundary.FilterBlock = 50000;
  add("filters across the window's end", {File("code.exe", X86(500000, 16), true, TRar5Filter::E8)}, boundary)->Unar =
      false;
  TRar5WriterOptions vols;
  vols.VolumeSize = 60000;
  vols.PartDigits = 2;
  add("volumes", {File("text.txt", Words(400000, 17)), File("noise.bin", Noise(150000, 18)),
                  File("stored.bin", Noise(70000, 19), false)},
      vols);
  TRar5WriterOptions solidVols = vols;
  solidVols.Solid = true;
  // unar fails on solid volume sets (its own known fault).
  add("solid volumes", {File("1.txt", Words(200000, 20)), File("2.bin", Noise(100000, 21)), File("3.txt", Words(200000, 22))},
      solidVols)
      ->Unar = false;
  add("Unicode names", {File("\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5/\xe6\x96\x87\xe4\xbb\xb6.txt", Words(3000, 22)),
                        File("caf\xc3\xa9 au lait.txt", Words(3000, 23), false)});
  return cases;
}

// Where tool output lands for an entry name.
std::string Extracted(const std::string& folder, const std::string& name) {
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file() && e.path().string().size() >= name.size() &&
        e.path().string().compare(e.path().string().size() - name.size(), name.size(), name) == 0)
      return ReadWholeFile(e.path().string());
  return "<missing>";
}

TEST(Rar5Writer, RoundTripsThroughOurLibraryAndTheOtherTools) {
  ASSERT_TRUE(HaveTool("unar")) << "unar is a test dependency";
  ASSERT_TRUE(HaveTool("bsdtar")) << "bsdtar (libarchive-tools) is a test dependency";
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.Label);
    TTempDir dir;
    std::vector<std::string> volumes = WriteRar5Set(dir.File("set.part01.rar"), c.Files, c.Options);
    if (c.Options.VolumeSize) {
      EXPECT_GT(volumes.size(), 2u);
      for (const auto& v : volumes) EXPECT_LE(fs::file_size(v), c.Options.VolumeSize);
    }
    Log() = TCallbackLog{};
    TAbiOptions keep;
    keep.KeepData = true;
    TAbiRun run = RunThroughAbi(volumes.front(), keep);
    ASSERT_EQ(run.EndResult, ERAR_END_ARCHIVE);
    std::vector<std::string> announced;
    for (const auto& [mode, name] : Log().VolumeCalls) announced.push_back(name);
    EXPECT_EQ(announced, std::vector<std::string>(volumes.begin() + 1, volumes.end()));
    ASSERT_EQ(run.Entries.size(), c.Files.size());
    for (size_t i = 0; i < c.Files.size(); ++i) {
      SCOPED_TRACE(c.Files[i].Name);
      const TAbiEntry& e = run.Entries[i];
      EXPECT_EQ(e.Name, c.Files[i].Name);
      EXPECT_EQ(e.HashType, unsigned(c.Files[i].Blake2 ? RAR_HASH_BLAKE2 : RAR_HASH_CRC32));
      EXPECT_EQ(e.Result, ERAR_SUCCESS);
      // A split file's record is its first part's; only the last part holds the file's hash.
      if (c.Files[i].Blake2 && !(e.Flags & 0x02)) {
        EXPECT_EQ(e.Blake2, e.Hash);
      } else if (!(e.Flags & 0x02)) {
        EXPECT_EQ(e.Crc, e.FileCRC);
      }
      EXPECT_TRUE(e.Data == c.Files[i].Data);
    }
    // bsdtar opens one file: the volumes go to it one after the other.
    std::string cat = "cat";
    for (const auto& v : volumes) cat += " '" + v + "'";
    struct TTool {
      bool Use;
      std::vector<std::string> Args;
      const char* Out;
    } tools[] = {{c.Unar, {"unar", "-q", "-f", "-D", "-o", dir.File("unar"), volumes.front()}, "unar"},
                 {c.Bsdtar, {"sh", "-c", cat + " | bsdtar -xf - -C '" + dir.File("bsdtar") + "'"}, "bsdtar"}};
    ASSERT_TRUE(c.Unar || c.Bsdtar);
    for (const auto& tool : tools) {
      if (!tool.Use) continue;
      fs::create_directories(dir.File(tool.Out));
      RunTool(tool.Args);
      for (const auto& f : c.Files) EXPECT_TRUE(Extracted(dir.File(tool.Out), f.Name) == f.Data) << tool.Out << ": " << f.Name;
    }
  }
}

// Sizes beyond 4 GiB, kept as holes: 64-bit sizes and offsets through the headers, an entry
// more than 4 GiB into its volume, and a file split into parts of more than 4 GiB.
TEST(Rar5Writer, SizesBeyond4GiBAreCarriedWhole) {
  TTempDir dir;
  const uint64_t big = (4ull << 30) + 12345, huge = (9ull << 30) + 7;
  TRar5TestFile holes;
  holes.Name = "big.bin";
  holes.Compress = false;
  holes.SparseSize = big;
  TRar5TestFile more = holes;
  more.Name = "huge.bin";
  more.SparseSize = huge;
  TRar5TestFile behind = File("behind.txt", Words(70000, 30)), last = File("last.txt", Words(50000, 31));
  TRar5WriterOptions o;
  o.VolumeSize = 6ull << 30;
  std::vector<std::string> volumes = WriteRar5Set(dir.File("big.part1.rar"), {holes, behind, more, last}, o);
  ASSERT_EQ(volumes.size(), 3u);
  TRar5Walk walk = WalkRar5(volumes.front());
  ASSERT_EQ(walk.EndResult, ERAR_END_ARCHIVE);
  ASSERT_EQ(walk.Entries.size(), 4u);
  EXPECT_EQ(walk.Entries[0].Header.UnpSize, big);
  ASSERT_EQ(walk.Entries[0].Parts.size(), 1u);
  EXPECT_EQ(walk.Entries[0].Parts[0].Size, big);
  EXPECT_GT(walk.Entries[1].Header.HeaderPos, 4ull << 30);
  EXPECT_EQ(walk.Entries[2].Header.UnpSize, huge);
  ASSERT_EQ(walk.Entries[2].Parts.size(), 3u);
  EXPECT_GT(walk.Entries[2].Parts[1].Size, 4ull << 30);
  EXPECT_EQ(walk.Entries[2].Parts[0].Size + walk.Entries[2].Parts[1].Size + walk.Entries[2].Parts[2].Size, huge);
  EXPECT_EQ(walk.Entries[3].Volume, volumes[2]);
  // Through the library: 64-bit sizes in the record, the holes skipped (reading them would take
  // seconds for nothing), and the small entries behind them unpacked.
  TAbiOptions keep;
  keep.KeepData = true;
  keep.Wanted = [](size_t index, const TAbiEntry&) { return index == 1 || index == 3; };
  TAbiRun run = RunThroughAbi(volumes.front(), keep);
  EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
  ASSERT_EQ(run.Entries.size(), 4u);
  EXPECT_EQ(run.Entries[0].UnpSize, big);
  EXPECT_EQ(run.Entries[0].PackSize, big);
  EXPECT_EQ(run.Entries[2].UnpSize, huge);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(run.Entries[i].Result, ERAR_SUCCESS) << i;
  EXPECT_TRUE(run.Entries[1].Data == behind.Data);
  EXPECT_TRUE(run.Entries[3].Data == last.Data);
}

}  // namespace
