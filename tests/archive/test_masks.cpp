// FileSpec masks: compilation quirks and matching, table-driven.
#include <gtest/gtest.h>

#include "archive/aknMasks.h"

namespace {

struct TMaskCase {
  const char* Mask;
  const char* Name;
  bool Match;
};

const TMaskCase MaskCases[] = {
    {"*.*", "readme.txt", true},
    {"*.*", "readme", false},
    {"*.*", ".profile", true},
    {"*.", "readme", true},
    {"*.", "readme.", true},
    {"*.", "readme.txt", false},
    {"a*?", "a", true},  // the ? after a star is dropped
    {"a*?", "abc", true},
    {"a*?", "b", false},
    {"DATA??.R*", "data01.rar", true},
    {"DATA??.R*", "DATA01.R00", true},
    {"DATA??.R*", "data1.rar", false},
    {"abc?", "abc", false},  // a trailing ? needs a character
    {"abc?", "abcd", true},
    {"abc?", "abcde", false},
    {"?", "", false},
    {"", "", true},
    {"", "a", false},
    {"*", "", true},
    {"*", "anything at all", true},
    {"[a]*", "[A]file", true},  // brackets are plain characters
    {"[a]*", "afile", false},
    {"file[1].txt", "FILE[1].TXT", true},
    {"*.txt", "notes.TXT", true},
    {"*.txt", "notes.txt.bak", false},
    {"*a*b*c", "xaybzc", true},
    {"*a*b*c", "xaybz", false},
    {"*ab", "aab", true},  // needs the second occurrence of a
    {"*ab", "abab", true},
    {"*ab*ab", "abxab", true},
    {"*ab*ab", "abxa", false},
    {"a*b*c*d", "abcdabcd", true},
    {"*", "x", true},
    // Only a to z fold: other letters and symbols compare as they are.
    {"\xc3\xa9*", "\xc3\x89t\xc3\xa9", false},
    {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
    {"[*", "{x", false},
    {"@*", "`x", false},
    {"_", "\x7f", false},
};

}  // namespace

TEST(Masks, Table) {
  for (const TMaskCase& c : MaskCases) {
    EXPECT_EQ(MatchesMask(c.Name, c.Mask), c.Match) << "mask '" << c.Mask << "' name '" << c.Name << "'";
  }
}

TEST(Masks, Compilation) {
  const TInternalMask mask("*?a?*");
  // "*?" leaves the star pending for 'a'; '?' then adds one item; the last star goes on NUL.
  ASSERT_EQ(mask.Items().size(), 3u);
  EXPECT_TRUE(mask.Items()[0].Star);
  EXPECT_EQ(mask.Items()[0].Literal, 'A');
  EXPECT_EQ(mask.Items()[1].Kind, 1);
  EXPECT_FALSE(mask.Items()[1].Star);
  EXPECT_TRUE(mask.Items()[2].Star);
  EXPECT_EQ(mask.Items()[2].Literal, '\0');
  EXPECT_FALSE(mask.TrailingDot());
  EXPECT_TRUE(TInternalMask("x*.").TrailingDot());
}

// More starred items than the 30 backtrack points a mask starts with.
TEST(Masks, ManyStarsGrowTheStack) {
  std::string mask;
  std::string name;
  for (int i = 0; i < 40; ++i) {
    mask += "*a";
    name += "ba";
  }
  mask += "*z";
  EXPECT_FALSE(MatchesMask(name + "b", mask));
  EXPECT_TRUE(MatchesMask(name + "bz", mask));
  std::string longName;
  for (int i = 0; i < 45; ++i) longName += "xa";
  EXPECT_TRUE(MatchesMask(longName + "z", mask));
  EXPECT_FALSE(MatchesMask(longName.substr(0, 70) + "z", mask));  // only 35 a's
}

TEST(Masks, MaskObjectIsReusable) {
  const TInternalMask mask("*.r??");
  EXPECT_TRUE(mask.Matches("set.r00"));
  EXPECT_TRUE(mask.Matches("SET.RAR"));
  EXPECT_FALSE(mask.Matches("set.zip"));
  EXPECT_TRUE(mask.Matches("set.r01"));
}
