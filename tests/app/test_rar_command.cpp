#include "app/RarCommand.h"

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
