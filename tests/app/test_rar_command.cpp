#include "app/RarCommand.h"
#include "app/RarOutput.h"

#include <gtest/gtest.h>

TEST(RarCommand, TextAndArgumentsFromTheOptions) {
  TRarOptions defaults;
  defaults.VolumeSwitch = "15000000b";
  const struct {
    const char* What;
    TRarOptions Options;
    std::string Text;
    std::vector<std::string> Arguments;
  } cases[] = {
      {"defaults", defaults, " a -vn -ep -v15000000b -m3 \"/out/set.rar\" @rarlist.txt",
       {"a", "-vn", "-ep", "-v15000000b", "-m3", "/out/set.rar", "@rarlist.txt"}},
      {"no volume size yet, no compression chosen", {-1, false, false, false, "", "", ""},
       " a -vn -ep -v -m-1 \"/out/set.rar\" @rarlist.txt",
       {"a", "-vn", "-ep", "-v", "-m-1", "/out/set.rar", "@rarlist.txt"}},
      {"password", {5, true, false, false, "secret", "", "1000000b"},
       " a -vn -ep -v1000000b -m5 -psecret \"/out/set.rar\" @rarlist.txt",
       {"a", "-vn", "-ep", "-v1000000b", "-m5", "-psecret", "/out/set.rar", "@rarlist.txt"}},
      {"-hp replaces -p", {3, true, true, false, "secret", "", "1000000b"},
       " a -vn -ep -v1000000b -m3 -hpsecret \"/out/set.rar\" @rarlist.txt",
       {"a", "-vn", "-ep", "-v1000000b", "-m3", "-hpsecret", "/out/set.rar", "@rarlist.txt"}},
      {"a password with blanks stays whole", {3, true, false, false, "two words \"q\"", "", "1000000b"},
       " a -vn -ep -v1000000b -m3 -p\"two words \\\"q\\\"\" \"/out/set.rar\" @rarlist.txt",
       {"a", "-vn", "-ep", "-v1000000b", "-m3", "-ptwo words \"q\"", "/out/set.rar", "@rarlist.txt"}},
      {"stored path and SFX", {3, false, false, true, "", "mods/maps", "1000000b"},
       " a -vn -ep -v1000000b -m3 -ap\"mods/maps\" -sfx \"/out/set.rar\" @rarlist.txt",
       {"a", "-vn", "-ep", "-v1000000b", "-m3", "-apmods/maps", "-sfx", "/out/set.rar", "@rarlist.txt"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildRarCommand(c.Options, "/out/set.rar"), c.Text) << c.What;
    EXPECT_EQ(BuildRarArguments(c.Options, "/out/set.rar"), c.Arguments) << c.What;
  }
}

TEST(RarCommand, VolumeSizesAndListFile) {
  const char* sizes[] = {"1000000b", "2000000b", "3000000b", "4000000b",
                         "5000000b", "10000000b", "15000000b", "20000000b"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(VolumeSizeText(i), sizes[i]);
  EXPECT_EQ(VolumeSizeText(-1), "");
  EXPECT_EQ(VolumeSizeText(8), "");
  EXPECT_EQ(RarListText({"/a/b c.bin", "/a/d"}), "/a/b c.bin\r\n/a/d\r\n");
}

TEST(RarOutput, StepsAndPercentagesInAnyChunking) {
  const std::string banner = "\r\nRAR 6.23   Copyright (c) 1993-2023 Alexander Roshal   1 Aug 2023\r\n\r\n";
  const struct {
    const char* What;
    std::string Bytes;
    std::string Step;
    int Percent;
    std::string LastLine;
  } cases[] = {
      {"nothing yet", "", "", -1, ""},
      {"the banner", banner, "RAR 6.23 Copyright (c) 1993-2023 Alexander Roshal 1 Aug 2023", -1,
       "RAR 6.23 Copyright (c) 1993-2023 Alexander Roshal 1 Aug 2023"},
      {"a percentage rewritten in place",
       banner + "Creating archive /out/set.rar\r\n\r\nAdding    /maps/a b.bsp                   5%\b\b\b\b 10%\b\b\b\b 57%",
       "Adding /maps/a b.bsp", 57, "Creating archive /out/set.rar"},
      {"a file done, then the end",
       "Adding    /maps/a.bsp     99%\b\b\b\b100%\b\b\b\b  OK \r\nDone\r\n", "Done", 100, "Done"},
      {"the next volume", "Creating archive /out/set.r00\n\n...         /maps/a.bsp      12%",
       "... /maps/a.bsp", 12, "Creating archive /out/set.r00"},
      {"a carriage return starts the line again", "Adding x  40%\rAdding y     ", "Adding y", 40, ""},
      {"an error", "Cannot open /maps/gone\r\nNo such file or directory\r\n", "No such file or directory", -1,
       "No such file or directory"},
      {"numbers that are no percentage", "Adding v2%\nAdding 101%\nAdding %\n", "Adding %", -1, "Adding %"},
      {"backspaces before anything and stray controls", std::string("\b\b\b\x01\x1b\0ok", 9), "ok", -1, ""},
  };
  for (const auto& c : cases) {
    // All at once, and byte by byte, as a pipe may hand it over.
    TRarOutputParser whole, pieces;
    whole.Feed(c.Bytes);
    for (char ch : c.Bytes) pieces.Feed(std::string_view(&ch, 1));
    for (const TRarOutputParser* p : {&whole, &pieces}) {
      EXPECT_EQ(p->Step(), c.Step) << c.What;
      EXPECT_EQ(p->Percent(), c.Percent) << c.What;
      EXPECT_EQ(p->LastLine(), c.LastLine) << c.What;
    }
  }
}

TEST(RarOutput, AnEndlessLineIsCapped) {
  TRarOutputParser parser;
  parser.Feed("Adding ");
  for (int i = 0; i < 100; ++i) parser.Feed(std::string(1000, 'x'));
  EXPECT_LE(parser.Step().size(), TRarOutputParser::MaxLineLength);
  parser.Feed("\b\b\b\b 77%");  // what the cap kept can still be rewritten
  EXPECT_EQ(parser.Percent(), 77);
  parser.Feed("\nDone\n");
  EXPECT_EQ(parser.Step(), "Done");
}

TEST(RarCommand, WhatARunLeftToMakeAnSfvOf) {
  const struct {
    TRarRun Run;
    bool Written;
    std::string Problem;
  } cases[] = {
      {{TRarOutcome::Missing, 0, ""}, false, "rar Not found"},
      {{TRarOutcome::NotStarted, 0, "Permission denied"}, false, "rar could not be started"},
      {{TRarOutcome::Halted, 0, ""}, true, "rar halted"},
      {{TRarOutcome::Crashed, 0, ""}, true, "rar stopped abnormally"},
      // A failure is one whatever lies on disk: an archive of that name may be an old one.
      {{TRarOutcome::Exited, 3, ""}, true, "rar ended with exit status 3"},
      {{TRarOutcome::Exited, 0, ""}, false, "rar did not create /out/set.rar"},
      {{TRarOutcome::Exited, 0, ""}, true, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RarRunProblem(c.Run, "/out/set.rar", c.Written), c.Problem);
}
