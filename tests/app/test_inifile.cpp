#include "app/IniFile.h"
#include "app/Settings.h"
#include "TempDir.h"

#include <gtest/gtest.h>


TEST(IniInteger, DecimalHexAndRejects) {
  const struct {
    const char* Text;
    bool Ok;
    int Value;
  } cases[] = {
      {"3", true, 3},        {"-1", true, -1},        {"+7", true, 7},
      {"0x2", true, 2},      {"0X1f", true, 31},      {"$FF", true, 255},
      {"$FFFFFFFF", true, -1}, {"0x", false, 0},      {"$", false, 0},
      {"abc", false, 0},     {"", false, 0},          {"12abc", false, 0},
      {"0xG", false, 0},     {"2147483648", false, 0}, {"1.5", false, 0},
  };
  for (const auto& c : cases) {
    int value = 0;
    EXPECT_EQ(ParseIniInteger(c.Text, value), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(value, c.Value) << c.Text;
    }
  }
}

TEST(IniFile, ReadsKeysWithoutRegardToCaseAndFallsBackToDefaults) {
  TTempDir dir;
  TIniFile ini(dir.Write("t.ini", "[options]\nnewnametype = 0x2 \r\nEncrypt=7\nBad=abc\n[Other]\nX=1\n"));
  EXPECT_EQ(ini.ReadInteger("Options", "NewNameType", 1), 2);
  EXPECT_TRUE(ini.ReadBool("Options", "Encrypt", false));
  EXPECT_EQ(ini.ReadInteger("Options", "Bad", 9), 9);
  EXPECT_EQ(ini.ReadInteger("Options", "Missing", 6), 6);
  EXPECT_EQ(ini.ReadInteger("Options", "X", 4), 4);  // X belongs to another section
  EXPECT_EQ(TIniFile(dir.File("none.ini")).ReadInteger("Options", "X", 5), 5);
}

TEST(IniFile, WritesKeepUnknownLinesAndAppendNewKeysToTheirSection) {
  TTempDir dir;
  const std::string path = dir.Write("t.ini",
                                     "; note\n[Options]\nCustom=keep\nENCRYPT=0\n\n[Other]\nX=1\n");
  TIniFile ini(path);
  ini.WriteBool("Options", "Encrypt", true);
  ini.WriteInteger("Options", "VolumeLevel", 4);
  ini.WriteString("New", "Key", "v");
  EXPECT_EQ(ReadWholeFile(path),
            "; note\r\n[Options]\r\nCustom=keep\r\nEncrypt=1\r\nVolumeLevel=4\r\n\r\n"
            "[Other]\r\nX=1\r\n\r\n[New]\r\nKey=v\r\n");
}

TEST(IniFile, AFailedWriteRaisesUnableToWrite) {
  TTempDir dir;
  TIniFile ini(dir.Path());  // a folder can never be written as a file, not even by root
  try {
    ini.WriteString("Options", "A", "1");
    FAIL() << "no error raised";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.Path());
  }
}

TEST(Settings, FirstRunFileHoldsTheDefaultsInWriteOrder) {
  TTempDir dir;
  TIniFile ini(dir.File("tallyra.ini"));
  WriteSettings(ini, ReadSettings(ini));
  EXPECT_EQ(ReadWholeFile(dir.File("tallyra.ini")),
            "[Options]\r\nUnrarAfterSFV=0\r\nAutoCreateSFV=0\r\nEncrypt=0\r\nCreateSFX=0\r\n"
            "NewNameType=1\r\nVolumeLevel=6\r\nCompressionLevel=3\r\n");
}

TEST(Settings, ValuesRoundTrip) {
  TTempDir dir;
  TIniFile ini(dir.File("tallyra.ini"));
  const TSettings written{2, 7, 5, true, false, true, true};
  WriteSettings(ini, written);
  const TSettings read = ReadSettings(ini);
  EXPECT_EQ(read.NewNameType, 2);
  EXPECT_EQ(read.VolumeLevel, 7);
  EXPECT_EQ(read.CompressionLevel, 5);
  EXPECT_TRUE(read.CreateSFX);
  EXPECT_FALSE(read.Encrypt);
  EXPECT_TRUE(read.AutoCreateSFV);
  EXPECT_TRUE(read.UnrarAfterSFV);
}
