// The family's numbered texts.
#include <gtest/gtest.h>

#include "archive/aknMessages.h"

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
