// The family's file streams: opening, reading and writing, seeking, sizes, copying,
// and the exception texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ArchiveTestFiles.h"
#include "archive/aknDetect.h"
#include "archive/aknStreams.h"

namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A stream that overrides neither Seek, to reach the base class's refusal.
class TNoSeekStream : public TStream32 {
 public:
  const char* ClassName() const override { return "TNoSeekStream"; }
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
};

// A stream that only has the 32-bit Seek; the 64-bit one must reach it.
class TSeek32Stream : public TStream32 {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  using TStream32::Seek;
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override {
    LastOrigin = origin;
    return offset + 1000;
  }
  std::uint16_t LastOrigin = 99;
};

}  // namespace

TEST(Streams, OpenAndCreateErrors) {
  TTempDir dir;
  const std::string missing = dir.File("missing.bin");
  try {
    TFileStream32 s(missing, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file " + missing);
  }
  const std::string inNoFolder = dir.File("no/such/folder/x.bin");
  try {
    TFileStream32 s(inNoFolder, fmCreate);
    FAIL() << "created in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file " + inNoFolder);
  }
  int handle = 123;
  try {
    TaknReadStream s(missing, handle, fmOpenRead | fmShareDenyNone);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Error opening file");
  }
  EXPECT_LT(handle, 0);
  try {
    TaknReadStream s(inNoFolder, handle, fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Error creating file");
  }
  // A folder is not a file, nor is a device.
  EXPECT_THROW(TFileStream32(dir.Path(), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream32("/dev/null", fmOpenRead), EFOpenError);
}

// A pipe without a writer would block a plain open for good.
TEST(Streams, PipesAreRefusedWithoutWaiting) {
  TTempDir dir;
  const std::string fifo = dir.File("pipe.rar");
  if (std::system(("mkfifo '" + fifo + "'").c_str()) != 0) GTEST_SKIP() << "no mkfifo";
  EXPECT_THROW(TFileStream32(fifo, fmOpenRead | fmShareDenyNone), EFOpenError);
  EXPECT_EQ(DetectArchive(fifo).ArcType, atNA);
}

TEST(Streams, WriteReadSeekAndSize) {
  TTempDir dir;
  const std::string path = dir.File("s.bin");
  {
    TFileStream32 out(path, fmCreate);
    out.WriteBuffer("hello, world", 12);
    EXPECT_EQ(out.Position(), 12);
    EXPECT_EQ(out.Size(), 12);
    out.SetPosition(7);
    out.WriteBuffer("WORLD", 5);
    EXPECT_EQ(out.Seek(std::int32_t{-5}, soFromEnd), 7);
    EXPECT_EQ(out.Seek(std::int64_t{2}, TSeekOrigin::soCurrent), 9);
    EXPECT_EQ(out.Position(), 9);  // Size leaves the position alone
    out.SetSize(std::int64_t{5});
    EXPECT_EQ(out.Size(), 5);
    EXPECT_EQ(out.Position(), 5);
  }
  EXPECT_EQ(Contents(path), "hello");

  TFileStream32 in(path, fmOpenRead | fmShareDenyNone);
  char buf[8] = {};
  EXPECT_EQ(in.Read(buf, 8), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  in.SetPosition(1);
  in.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "ello");
  in.ReadBuffer(buf, 0);  // nothing asked, nothing missing
  try {
    in.SetPosition(3);
    in.ReadBuffer(buf, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  try {
    in.WriteBuffer("x", 1);  // opened for reading only
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_THROW(in.SetSize(std::int64_t{2}), EOSError);
  EXPECT_EQ(in.Size(), 5);
}

TEST(Streams, SixtyFourBitPositionsOnSparseFiles) {
  TTempDir dir;
  const std::string path = dir.File("big.bin");
  const std::int64_t big = 5LL * 1024 * 1024 * 1024;
  {
    TFileStream32 out(path, fmCreate);
    out.SetSize(big);  // sparse
    EXPECT_EQ(out.Size(), big);
    out.SetPosition(big - 3);
    out.WriteBuffer("end", 3);
  }
  int handle = -1;
  TaknReadStream in(path, handle, fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(handle, in.Handle());
  EXPECT_GE(handle, 0);
  EXPECT_EQ(in.Size(), big);
  in.SetPosition(big - 3);
  char buf[3];
  in.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "end");
  // The 32-bit Seek has no answer past 2 GiB.
  EXPECT_THROW(in.Seek(std::int32_t{0}, soFromEnd), ERangeError);
  EXPECT_EQ(in.Seek(std::int32_t{10}, soFromBeginning), 10);
}

TEST(Streams, BaseClassSeekAndSizeRules) {
  TNoSeekStream none;
  try {
    none.Seek(std::int32_t{0}, soFromBeginning);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "TNoSeekStream.Seek not implemented");
  }
  EXPECT_THROW(none.Seek(std::int64_t{0}, TSeekOrigin::soBeginning), EStreamError);
  // The 32-bit SetSize does nothing; the 64-bit one checks the range first.
  none.SetSize(std::int32_t{10});
  none.SetSize(std::int64_t{10});
  try {
    none.SetSize(std::int64_t{1} << 31);
    FAIL();
  } catch (const ERangeError& e) {
    EXPECT_EQ(e.Message(), "Range check error");
  }

  TSeek32Stream s32;
  EXPECT_EQ(s32.Seek(std::int64_t{5}, TSeekOrigin::soEnd), 1005);
  EXPECT_EQ(s32.LastOrigin, 2);
  EXPECT_THROW(s32.Seek(std::int64_t{1} << 32, TSeekOrigin::soBeginning), ERangeError);
  EXPECT_THROW(s32.Seek(-(std::int64_t{1} << 31) - 1, TSeekOrigin::soBeginning), ERangeError);
}

TEST(Streams, CopyFrom) {
  TTempDir dir;
  std::string data(250000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 300);
  const std::string src = WriteBytes(dir, "src.bin", TBytes(data.begin(), data.end()));

  struct TCase {
    const char* What;
    std::int64_t StartAt;
    std::int64_t Count;
    std::int64_t Returned;
    std::string Expected;
    int Pumps;
  };
  const TCase cases[] = {
      {"count 0 copies the whole source from its start", 1234, 0, 250000, data, 3},
      {"a count copies from the current position", 1000, 150001, 150001, data.substr(1000, 150001), 2},
      {"a small count", 10, 5, 5, data.substr(10, 5), 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TFileStream32 in(src, fmOpenRead);
    TFileStream32 out(dir.File("dst.bin"), fmCreate);
    in.SetPosition(c.StartAt);
    int pumps = 0;
    bool progressSet = false;
    const std::int64_t n =
        out.CopyFrom(in, nullptr, [&](std::int64_t, std::int64_t) { progressSet = true; }, c.Count, [&] { ++pumps; });
    EXPECT_EQ(n, c.Returned);
    EXPECT_EQ(pumps, c.Pumps);
    ASSERT_TRUE(out.Progress());
    out.Progress()(0, 0);
    EXPECT_TRUE(progressSet);
    EXPECT_EQ(out.Size(), static_cast<std::int64_t>(c.Expected.size()));
    std::string written(c.Expected.size(), '\0');
    out.SetPosition(0);
    out.ReadBuffer(written.data(), static_cast<std::int32_t>(written.size()));
    EXPECT_TRUE(written == c.Expected);
  }
}

TEST(Streams, CopyFromStopsWhenCancelledAndReportsShortSources) {
  TTempDir dir;
  const std::string src = WriteBytes(dir, "src.bin", TBytes(300000, 'a'));
  TFileStream32 in(src, fmOpenRead);
  TFileStream32 out(dir.File("dst.bin"), fmCreate);
  bool cancel = false;
  int pumps = 0;
  // The pump is where the window's "Halt" gets in: the block under way still lands.
  const std::int64_t n = out.CopyFrom(in, &cancel, {}, 0, [&] {
    if (++pumps == 2) cancel = true;
  });
  EXPECT_EQ(n, 300000);
  EXPECT_EQ(pumps, 2);
  EXPECT_EQ(out.Size(), 200000);

  TFileStream32 empty(WriteBytes(dir, "empty.bin", {}), fmOpenRead);
  TFileStream32 out2(dir.File("dst2.bin"), fmCreate);
  EXPECT_EQ(out2.CopyFrom(empty, nullptr, {}, 0), 0);
  EXPECT_EQ(out2.Size(), 0);

  TFileStream32 shortIn(WriteBytes(dir, "short.bin", TBytes(10, 'b')), fmOpenRead);
  EXPECT_THROW(out2.CopyFrom(shortIn, nullptr, {}, 11), EReadError);
  EXPECT_THROW(out2.CopyFrom(shortIn, nullptr, {}, -1), ERangeError);
}

TEST(Streams, SharingModes) {
  TTempDir dir;
  const std::string path = WriteBytes(dir, "shared.bin", Text("abc"));
  {
    TFileStream32 exclusive(path, fmOpenRead | fmShareExclusive);
    EXPECT_THROW(TFileStream32(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
    EXPECT_THROW(TFileStream32(path, fmOpenRead | fmShareExclusive), EFOpenError);
    TFileStream32 unlocked(path, fmOpenRead | fmShareDenyNone);  // takes no lock
  }
  TFileStream32 a(path, fmOpenRead | fmShareDenyWrite);
  TFileStream32 b(path, fmOpenRead | fmShareDenyWrite);
  EXPECT_THROW(TFileStream32(path, fmOpenReadWrite | fmShareExclusive), EFOpenError);
}

TEST(Streams, ExceptionTexts) {
  EXPECT_EQ(E_RAISE(25443).Message(), "User canceled");
  EXPECT_EQ(E_RAISE(25443).MessageNumber(), 25443);
  EXPECT_EQ(E_RAISE(12345).Message(), "");
  const EOSError os(2);
  EXPECT_EQ(os.ErrorCode(), 2);
  EXPECT_EQ(os.Message().rfind("System Error.  Code: 2.\r\n", 0), 0u);
  EXPECT_GT(os.Message().size(), std::strlen("System Error.  Code: 2.\r\n"));
}
