// The family's numbered texts.
#include <gtest/gtest.h>

#include "archive/aknMessages.h"
#include "archive/aknUnRarText.h"

TEST(Messages, ExactTextsByNumber) {
  const std::pair<int, const char*> cases[] = {
      {25101, "64 bit hearder"},
      {25102, "32 bit header"},
      {25137, "Cabinets in the set do not have the same reserved space"},
      {25159, "Invalid directory... defaulting to current"},
      {25232, "Flat ScrollBar requires COMCTL32.dll version 4.71 or above."},
      {25235, "Error opening file"},
      {25236, "Error reading file or unexpected end of file"},
      {25237, "Error creating file"},
      {25241, "Line found before 'BEGIN'"},
      {25248, "Inconsistant local header"},
      {25251, "Maximum volumes 999"},
      {25260, "Unrar.dll not found"},
      {25443, "User canceled"},
      {26000, "All_files (*.*)|*.*"},
      {26001, "ALL Archives |*.ace;*.arc;*.arj;*.bh;*.cab;*.enc;*.exe;*.gz;*.ha;*.jar;*.lha;*.lzh;*.mbf;*.mim;"
              "*.pak;*.pk3;*.pk_;*.rar;*.tar;*.tgz;*.uue;*.xxe;*.z;*.zip;*.zoo"},
      {26899, "Directory does not exist... Create?"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(MessageText(number), text) << number;
}

TEST(Messages, GapsAndOutsideNumbersAreEmpty) {
  for (const int number : {0, -1, 25100, 25103, 25112, 25444, 26900, 65535, 100000})
    EXPECT_EQ(MessageText(number), "") << number;
}

TEST(Messages, TableHas112TextsBetweenTheBounds) {
  EXPECT_EQ(MessageCount(), 112);
  int found = 0;
  for (int n = 0; n <= 70000; ++n) {
    if (!MessageText(n).empty()) {
      ++found;
      EXPECT_GE(n, 25101);
      EXPECT_LE(n, 26899);
    }
  }
  EXPECT_EQ(found, 112);
}

// The page's version check: up to 29 as ever, and RAR 5 (50) only from a library whose ABI
// version says it unpacks it (6 and above); another library with the same ABI and a lower
// number, or none, still gets the refusal.
TEST(UnRarTexts, VersionCheckByTheLibrarysAbiVersion) {
  const struct {
    unsigned UnpVer;
    int DllVersion;
    bool Compatible;
  } cases[] = {{15, 0, true},  {20, 5, true},  {29, 0, true},  {30, 0, false}, {30, 6, false}, {36, 6, false},
               {50, 0, false}, {50, 5, false}, {50, 6, true},  {50, 8, true},  {51, 6, false}, {70, 9, false}};
  for (const auto& c : cases)
    EXPECT_EQ(RarVersionCompatible(c.UnpVer, c.DllVersion), c.Compatible) << c.UnpVer << " " << c.DllVersion;
  EXPECT_EQ(RarVersionLines(50, 3), (std::vector<std::string>{"Checking RAR Version...", "RAR Version: 5.0", "OS: Unix"}));
}
