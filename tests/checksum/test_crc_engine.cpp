#include "checksum/CrcEngine.h"
#include "checksum/skdebug.h"
#include "platform/SystemError.h"
#include "ChildProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

// A clock the tests step by hand.
class TManualClock final : public IClock {
public:
  std::uint64_t MilliSeconds() const override { return Now; }
  std::uint64_t Now = 1000;
};

std::uint32_t TableCrc(const TCrcTable& table, std::uint32_t reg, const std::string& bytes) {
  for (unsigned char b : bytes) reg = table[(reg ^ b) & 0xFF] ^ (reg >> 8);
  return reg;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

struct TReaderFixture : ::testing::Test {
  std::vector<std::uint8_t> Buffer = std::vector<std::uint8_t>(CrcBlockSize);
  TManualClock Clock;
  TCrcReader Reader{Buffer, Clock};
  TTempDir Dir;
};

}  // namespace

TEST(CrcTable, MatchesTheReflectedPolynomial) {
  TCrcTable table{};
  BuildCrcTable(table);
  EXPECT_EQ(table[0], 0x00000000u);
  EXPECT_EQ(table[1], 0x77073096u);
  EXPECT_EQ(table[128], 0xEDB88320u);
  EXPECT_EQ(table[255], 0x2D02EF8Du);
}

TEST(UpdateCrc, GivesWhatTheTableAlgorithmGives) {
  TCrcTable table{};
  BuildCrcTable(table);
  for (std::size_t n : {0u, 1u, 7u, 64u, 1000u, 16384u, 65535u}) {
    const std::string bytes = RandomBytes(n, static_cast<unsigned>(n));
    for (std::uint32_t start : {0xFFFFFFFFu, 0u, 0x12345678u}) {
      EXPECT_EQ(UpdateCrc(start, bytes.data(), static_cast<int>(n)), TableCrc(table, start, bytes))
          << n << " bytes from " << start;
    }
  }
}

TEST(UpdateCrc, UsesOnlyTheLow16BitsOfTheCount) {
  const std::string bytes = RandomBytes(65536 + 10, 3);
  // 65546 & 0xFFFF = 10: only the first ten bytes count.
  EXPECT_EQ(UpdateCrc(0xFFFFFFFFu, bytes.data(), 65536 + 10), UpdateCrc(0xFFFFFFFFu, bytes.data(), 10));
  EXPECT_EQ(UpdateCrc(0xFFFFFFFFu, bytes.data(), 65536), 0xFFFFFFFFu);
}

TEST(Percent, IsZeroWhenEitherSideIsZero) {
  EXPECT_EQ(Percent(0, 10), 0);
  EXPECT_EQ(Percent(10, 0), 0);
  EXPECT_DOUBLE_EQ(Percent(1, 4), 25);
}

TEST_F(TReaderFixture, KnownAnswers) {
  const struct {
    std::string Bytes;
    std::uint32_t Crc;
  } cases[] = {
      {"", 0x00000000u},
      {"123456789", 0xCBF43926u},
      {"a", 0xE8B7BE43u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& c : cases) {
    const auto r = Reader.FileCrc(Dir.Write("f", c.Bytes), {});
    EXPECT_EQ(r.Status, TCrcStatus::Ok);
    EXPECT_EQ(r.Crc, c.Crc) << c.Bytes;
    EXPECT_EQ(r.Size, c.Bytes.size());
  }
}

TEST_F(TReaderFixture, BlocksAndProgressAtTheBoundary) {
  const struct {
    std::size_t Size;
    std::vector<int> Progress;
  } cases[] = {
      {0, {0}},  // an empty file still reads one block
      {16384, {100}},
      {16385, {99, 100}},
      {40000, {40, 81, 100}},
  };
  for (const auto& c : cases) {
    const std::string bytes = RandomBytes(c.Size, 9);
    std::vector<int> progress;
    TCrcReadHooks hooks;
    hooks.OnBlock = [&](int p) { progress.push_back(p); };
    const auto r = Reader.FileCrc(Dir.Write("f", bytes), hooks);
    EXPECT_EQ(progress, c.Progress) << c.Size;
    EXPECT_EQ(r.Crc, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                           static_cast<uInt>(bytes.size())));
  }
}

TEST_F(TReaderFixture, TraceLinesCarryBytesReadAndTheRegister) {
  const std::string bytes = RandomBytes(40000, 5);
  TCrcTable table{};
  BuildCrcTable(table);
  std::vector<std::string> lines;
  TCrcReadHooks hooks;
  hooks.Trace = [&](const std::string& line) { lines.push_back(line); };
  Reader.FileCrc(Dir.Write("f", bytes), hooks);
  ASSERT_EQ(lines.size(), 3u);
  const std::size_t ends[] = {16384, 32768, 40000};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i], CrcTraceLine(ends[i], TableCrc(table, 0xFFFFFFFFu, bytes.substr(0, ends[i]))));
  }
  EXPECT_EQ(CrcTraceLine(16384, 0xAB), "16384 : 000000AB");
}

TEST_F(TReaderFixture, HaltBeforeABlockReturnsZero) {
  const std::string path = Dir.Write("big", RandomBytes(10 * CrcBlockSize, 1));
  int blocks = 0;
  TCrcReadHooks hooks;
  hooks.OnBlock = [&](int) { ++blocks; };
  hooks.Halted = [&] { return blocks == 3; };
  const auto r = Reader.FileCrc(path, hooks);
  EXPECT_EQ(r.Status, TCrcStatus::Halted);
  EXPECT_EQ(r.Crc, 0u);
  EXPECT_EQ(blocks, 3);
  EXPECT_TRUE(r.Sized);  // the size was taken before the halt
  EXPECT_FALSE(Reader.Busy());
}

namespace {
// What one read shows through its hooks, block by block.
struct TBlockLog {
  std::vector<int> Progress;
  std::vector<std::string> Trace;
  TFileCrcResult Result;
};
TBlockLog ReadLogged(TCrcReader& reader, const std::string& path) {
  TBlockLog log;
  TCrcReadHooks hooks;
  hooks.OnBlock = [&](int p) { log.Progress.push_back(p); };
  hooks.Trace = [&](const std::string& line) { log.Trace.push_back(line); };
  log.Result = reader.FileCrc(path, hooks);
  return log;
}
}  // namespace

TEST_F(TReaderFixture, ChunkedReadsShowTheSameBlocksAsBlockReads) {
  // The window's and the CLI's reader reads whole chunks; the fixture's reads one block at
  // a time, as the engine always did. Sizes straddle both.
  alignas(4096) static std::array<std::uint8_t, CrcReadChunkSize> chunk;
  TCrcReader chunked(chunk, Clock);
  const std::size_t c = CrcReadChunkSize, b = CrcBlockSize;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, b - 1, b, b + 1, std::size_t{40000}, c - 1, c,
                           c + 1, c + b, 2 * c - b + 1, 3 * c + 7}) {
    const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
    const std::string path = Dir.Write("f", bytes);
    const TBlockLog byBlock = ReadLogged(Reader, path);
    const TBlockLog byChunk = ReadLogged(chunked, path);
    ASSERT_EQ(byChunk.Result.Status, TCrcStatus::Ok) << size;
    EXPECT_EQ(byChunk.Result.Crc, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                                        static_cast<uInt>(bytes.size())))
        << size;
    EXPECT_EQ(byChunk.Progress, byBlock.Progress) << size;
    EXPECT_EQ(byChunk.Trace, byBlock.Trace) << size;
    EXPECT_EQ(byChunk.Progress.size(), std::max<std::size_t>(1, (size + b - 1) / b)) << size;
    EXPECT_EQ(byChunk.Trace.back(), CrcTraceLine(size, ~byChunk.Result.Crc)) << size;
  }
}

TEST_F(TReaderFixture, AHaltInsideAChunkStopsAtTheNextBlock) {
  alignas(4096) static std::array<std::uint8_t, CrcReadChunkSize> chunk;
  TCrcReader chunked(chunk, Clock);
  const std::string path = Dir.Write("big", RandomBytes(3 * CrcReadChunkSize, 6));
  for (int haltAfter : {1, 5, 16, 17}) {  // inside the first chunk, at its end, in the second
    int blocks = 0;
    TCrcReadHooks hooks;
    hooks.OnBlock = [&](int) { ++blocks; };
    hooks.Halted = [&] { return blocks == haltAfter; };
    const auto r = chunked.FileCrc(path, hooks);
    EXPECT_EQ(r.Status, TCrcStatus::Halted) << haltAfter;
    EXPECT_EQ(blocks, haltAfter);
    EXPECT_EQ(r.Crc, 0u);
  }
}

TEST_F(TReaderFixture, FailuresCarryTheSystemErrorCode) {
  EXPECT_EQ(Reader.FileCrc(Dir.File("missing"), {}).ErrorCode, ENOENT);
  // A folder is no file to sum; its code says so.
  const auto dir = Reader.FileCrc(Dir.Path(), {});
  EXPECT_EQ(dir.Status, TCrcStatus::Failed);
  EXPECT_EQ(dir.ErrorCode, ecNotRegularFolder);
  EXPECT_EQ(dir.Crc, 0u);
  ASSERT_EQ(mkfifo(Dir.File("fifo").c_str(), 0644), 0);
  EXPECT_TRUE(FinishesWithin(10, [this] { return Reader.FileCrc(Dir.File("fifo"), {}).ErrorCode == ecNotRegularFifo; }));
  if (geteuid() != 0) {  // root reads everything
    const std::string locked = Dir.Write("locked", "x");
    chmod(locked.c_str(), 0);
    EXPECT_EQ(Reader.FileCrc(locked, {}).ErrorCode, EACCES);
  }
}

TEST_F(TReaderFixture, ATraceFailureEndsTheReadLikeAReadFailure) {
  TCrcReadHooks hooks;
  hooks.Trace = [](const std::string&) { throw EInOutError("denied", EACCES); };
  const auto r = Reader.FileCrc(Dir.Write("f", "123456789"), hooks);
  EXPECT_EQ(r.Status, TCrcStatus::Failed);
  EXPECT_EQ(r.ErrorCode, EACCES);
  EXPECT_EQ(r.Crc, 0u);
}

TEST_F(TReaderFixture, MessagesRunAboutEvery15MillisecondsOfWork) {
  const std::string path = Dir.Write("f", RandomBytes(12 * CrcBlockSize, 2));
  int pumps = 0;
  TCrcReadHooks hooks;
  hooks.OnBlock = [&](int) { Clock.Now += 5; };  // each block costs 5 ms
  hooks.PumpMessages = [&] { ++pumps; };
  Reader.FileCrc(path, hooks);
  EXPECT_EQ(pumps, 4);  // after blocks 3, 6, 9 and 12
}

TEST_F(TReaderFixture, ASecondReadCannotStartWhileOneRuns) {
  const std::string bytes = RandomBytes(3 * CrcBlockSize, 4);
  const std::string path = Dir.Write("f", bytes);
  const std::string other = Dir.Write("g", RandomBytes(CrcBlockSize, 8));
  TFileCrcResult inner;
  TCrcReadHooks hooks;
  hooks.OnBlock = [&](int) { Clock.Now += 20; };
  hooks.PumpMessages = [&] { inner = Reader.FileCrc(other, {}); };
  const auto outer = Reader.FileCrc(path, hooks);
  EXPECT_EQ(inner.Status, TCrcStatus::Failed);
  EXPECT_EQ(inner.ErrorCode, EBUSY);
  EXPECT_EQ(outer.Crc, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                             static_cast<uInt>(bytes.size())));
}

TEST_F(TReaderFixture, SparseFileOf5GiBIsSummedWhole) {
  const std::string path = Dir.File("sparse");
  const std::uint64_t size = 5ull << 30;
  ASSERT_EQ(truncate(Dir.Write("sparse", "").c_str(), static_cast<off_t>(size)), 0);
  int last = -1;
  TCrcReadHooks hooks;
  hooks.OnBlock = [&](int p) { last = p; };
  const auto r = Reader.FileCrc(path, hooks);
  ASSERT_EQ(r.Status, TCrcStatus::Ok);
  EXPECT_EQ(r.Size, size);
  EXPECT_EQ(last, 100);
  // zlib, an independent implementation, over the same 5 GiB of zeros.
  const std::vector<Bytef> zeros(1 << 20, 0);
  uLong expected = crc32(0, nullptr, 0);
  for (std::uint64_t done = 0; done < size; done += zeros.size()) {
    expected = crc32(expected, zeros.data(), static_cast<uInt>(zeros.size()));
  }
  EXPECT_EQ(r.Crc, expected);
}

TEST(WriteDebugLine, CreatesThenAppendsLinesWithCrLf) {
  TTempDir dir;
  const std::string trace = dir.File("debug.txt");
  WriteDebugLine(trace, "16384 : 0000ABCD");
  EXPECT_EQ(ReadWholeFile(trace), "16384 : 0000ABCD\r\n");
  WriteDebugLine(trace, "32768 : 00001234");
  EXPECT_EQ(ReadWholeFile(trace), "16384 : 0000ABCD\r\n32768 : 00001234\r\n");
}

TEST(WriteDebugLine, RaisesWhenTheFileCannotBeOpened) {
  TTempDir dir;
  try {
    WriteDebugLine(dir.File("no/such/folder/debug.txt"), "x");
    FAIL() << "no error raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, ENOENT);
  }
}
