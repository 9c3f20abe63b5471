#include "platform/Utf8.h"

#include <gtest/gtest.h>

TEST(Utf8, ValidityAndLength) {
  const struct {
    std::string Text;
    bool Valid;
    std::size_t Length;
  } cases[] = {
      {"", true, 0},
      {"plain.rar", true, 9},
      {"Caf\xC3\xA9.rar", true, 8},
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", true, 2},   // euro sign, an emoji
      {"Caf\xE9.rar", false, 8},                    // Windows-1252
      {"\xC0\xAF", false, 2},                       // an overlong "/"
      {"\xED\xA0\x80", false, 3},                   // a surrogate
      {"\xF4\x90\x80\x80", false, 4},               // above U+10FFFF
      {"\xE2\x82", false, 2},                       // cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.Text), c.Valid) << c.Text;
    EXPECT_EQ(Utf8Length(c.Text), c.Length) << c.Text;
  }
}

TEST(Utf8, WindowsEncodingsDecode) {
  EXPECT_EQ(Windows1252ToUtf8("Caf\xE9 \x80 \x9F \x81"), "Caf\xC3\xA9 \xE2\x82\xAC \xC5\xB8 \xC2\x81");
  const std::string le("C\0a\0f\0\xE9\0=\0\xAC\x20\x3D\xD8\x00\xDE", 16);  // ..., euro, U+1F600
  EXPECT_EQ(Utf16BytesToUtf8(le, false), "Caf\xC3\xA9=\xE2\x82\xAC\xF0\x9F\x98\x80");
  const std::string be("\0C\0a\xD8\x3D\0x", 8);  // a lone surrogate, then "x"
  EXPECT_EQ(Utf16BytesToUtf8(be, true), "Ca\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16BytesToUtf8(std::string("\0A\0", 3), true), "A");  // an odd byte is dropped
}

TEST(Utf8, FoldCaseAsWindowsComparesNames) {
  const struct {
    std::string A, B;
    bool Same;
  } cases[] = {
      {"readme.nfo", "Readme.NFO", true},
      {"caf\xC3\xA9.rar", "CAF\xC3\x89.RAR", true},                 // é É
      {"\xC5\x93uvre", "\xC5\x92UVRE", true},                       // œ Œ
      {"\xC3\xBF", "\xC5\xB8", true},                               // ÿ Ÿ
      {"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2", true},
      {"\xCE\xB1\xCF\x82", "\xCE\x91\xCE\xA3", true},               // ας ΑΣ, final sigma
      {"\xE1\xBA\xA1", "\xE1\xBA\xA0", true},                       // ạ Ạ
      {"\xEF\xBD\x81", "\xEF\xBC\xA1", true},                       // full-width a A
      {"stra\xC3\x9F" "e", "STRASSE", false},                       // one character for one
      {"a\xE9", "A\xE9", true},                                      // stray bytes stay, ASCII folds
      {"a\xE9", "a\xC9", false},
      {"\xC3\x97", "\xC3\xB7", false},                              // × and ÷ are no letters
  };
  for (const auto& c : cases) EXPECT_EQ(FoldCase(c.A) == FoldCase(c.B), c.Same) << c.A << " " << c.B;
}
