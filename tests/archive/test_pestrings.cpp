// The string-table reader that stands in for loading an executable as a data module.
#include <gtest/gtest.h>

#include <cstring>

#include "ArchiveTestFiles.h"
#include "platform/PeStrings.h"

namespace {

TPeReadAt MemoryReader(const TBytes& image) {
  return [&image](std::uint64_t pos, void* buffer, std::size_t n) -> std::size_t {
    // The reader must stay inside what it was told the size is.
    EXPECT_LE(pos + n, image.size());
    if (pos >= image.size()) return 0;
    const std::size_t got = std::min<std::size_t>(n, image.size() - static_cast<std::size_t>(pos));
    std::memcpy(buffer, image.data() + pos, got);
    return got;
  };
}

std::vector<std::string> FromMemory(const TBytes& image, unsigned first, unsigned count) {
  return ReadPeStrings(MemoryReader(image), image.size(), first, count);
}

}  // namespace

TEST(PeStrings, ReadsStringsOneToFour) {
  TTempDir dir;
  const TBytes pe = PeWithStrings({{1, u"5000"}, {2, u"x\u00e9"}, {4, u"forty"}, {5, u"not asked"}});
  const auto strings = ReadPeStrings(WriteBytes(dir, "a.exe", pe), 1, 4);
  ASSERT_EQ(strings.size(), 4u);
  EXPECT_EQ(strings[0], "5000");
  EXPECT_EQ(strings[1], "x\xc3\xa9");
  EXPECT_EQ(strings[2], "");
  EXPECT_EQ(strings[3], "forty");
  EXPECT_EQ(FromMemory(pe, 1, 4), strings);
}

TEST(PeStrings, LanguageChoice) {
  const TBytes german = PeWithStrings({{1, u"7"}}, 0x407);
  EXPECT_EQ(FromMemory(german, 1, 1)[0], "7");  // the only language there is
}

TEST(PeStrings, NoStringsWithoutAPeImage) {
  TTempDir dir;
  const std::vector<std::string> none(4);
  EXPECT_EQ(ReadPeStrings(WriteBytes(dir, "dos.exe", DosHeader(2, 100)), 1, 4), none);
  EXPECT_EQ(ReadPeStrings(WriteBytes(dir, "text.txt", Text("just some text, nothing else")), 1, 4), none);
  EXPECT_EQ(ReadPeStrings(dir.File("missing.exe"), 1, 4), none);
  EXPECT_EQ(ReadPeStrings(dir.Path(), 1, 4), none);
}

TEST(PeStrings, EveryTruncationStaysInBounds) {
  const TBytes pe = PeWithStrings({{1, u"123"}, {2, u"456"}});
  for (std::size_t n = 0; n < pe.size(); ++n) {
    const TBytes part(pe.begin(), pe.begin() + static_cast<std::ptrdiff_t>(n));
    const auto strings = FromMemory(part, 1, 4);
    ASSERT_EQ(strings.size(), 4u);
    // Either the block was complete enough to read or the string is absent.
    EXPECT_TRUE(strings[0].empty() || strings[0] == "123");
  }
  EXPECT_EQ(FromMemory(pe, 1, 2), (std::vector<std::string>{"123", "456"}));
}

TEST(PeStrings, HostileFieldsStayInBounds) {
  // Overwrite every 4-byte field of the headers and resource tree with extremes.
  const TBytes pe = PeWithStrings({{1, u"123"}});
  for (std::size_t at = 0; at + 4 <= pe.size(); at += 2) {
    for (const std::uint32_t value : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u, 0x1000u}) {
      TBytes bad = pe;
      PutU32(bad, at, value);
      const auto strings = FromMemory(bad, 0, 16);
      ASSERT_EQ(strings.size(), 16u);
    }
  }
}

// What follows the last section is the overlay; a file that ends there, or is no PE image, has
// none, and hostile section fields never read past the end.
TEST(PeStrings, TheOverlayFollowsTheLastSection) {
  const TBytes pe = PeWithStrings({{1, u"123"}});
  auto overlay = [](const TBytes& image) { return PeOverlayOffset(MemoryReader(image), image.size()); };
  EXPECT_EQ(overlay(pe), std::nullopt);
  EXPECT_EQ(overlay(Concat(pe, Text("appended"))), std::optional<std::uint64_t>(pe.size()));
  EXPECT_EQ(overlay(Concat(DosHeader(2, 100), Text("appended"))), std::nullopt);
  for (std::size_t at = 0; at + 4 <= pe.size(); at += 2) {
    for (const std::uint32_t value : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      TBytes bad = Concat(pe, Text("appended"));
      PutU32(bad, at, value);
      const auto end = overlay(bad);
      if (end) {
        EXPECT_LT(*end, bad.size());
      }
    }
  }
}
