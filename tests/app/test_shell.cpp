#include "app/AppResources.h"
#include "app/JpegImage.h"
#include "app/ShellAssociation.h"
#include "platform/DesktopIntegration.h"
#include "platform/DesktopRegistry.h"
#include "platform/FileSystem.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

const std::string Check = "Tallyra\\shell\\\xC2\xA4 Check SFV File \xC2\xA4\\command";
const std::string Create = "application/vnd.rar\\shell\\\xC2\xA4 Create SFV File \xC2\xA4\\command";

TExtensionTypeLookup Types(std::map<std::string, std::string> table) {
  return [table](const std::string& ext) {
    const auto it = table.find(ext);
    return it == table.end() ? std::string() : it->second;
  };
}

// The real store, with a key that cannot be created at the chosen step and a log of
// what the association did to it.
struct TLog {
  std::vector<std::string> Calls;
  bool Freed = false;
};

class TObservedRegistry final : public IRegistry {
public:
  TObservedRegistry(std::unique_ptr<TFileRegistry> inner, TLog& log, int failCreate)
      : inner_(std::move(inner)), log_(log), failCreate_(failCreate) {}
  ~TObservedRegistry() override { log_.Freed = true; }
  bool OpenKey(const std::string& key, bool canCreate) override {
    log_.Calls.push_back((canCreate ? "create " : "open ") + key);
    if (canCreate && ++creates_ == failCreate_) {
      inner_->CloseKey();
      return false;  // as a key HKEY_CLASSES_ROOT will not let us make
    }
    return inner_->OpenKey(key, canCreate);
  }
  bool OpenKeyReadOnly(const std::string& key) override { return inner_->OpenKeyReadOnly(key); }
  bool KeyExists(const std::string& key) override {
    log_.Calls.push_back("exists " + key);
    return inner_->KeyExists(key);
  }
  void WriteString(const std::string& name, const std::string& value) override {
    inner_->WriteString(name, value);
  }
  std::string ReadString(const std::string& name) override { return inner_->ReadString(name); }
  void CloseKey() override {
    log_.Calls.push_back("close");
    inner_->CloseKey();
  }

private:
  std::unique_ptr<TFileRegistry> inner_;
  TLog& log_;
  int failCreate_;
  int creates_ = 0;
};

struct TShellFixture : ::testing::Test {
  TTempDir Dir;
  void SetUp() override { std::filesystem::create_directories(Dir.File("share/tallyra")); }
  std::string Store() const { return Dir.File("share/tallyra/classes.txt"); }
  TRegistryContents Contents() const { return TFileRegistry(Store(), {}).Contents(); }

  void Register(const std::string& exe, std::map<std::string, std::string> types = {{"rar", "application/vnd.rar"}},
                int failCreate = 0) {
    RegisterFileTypes(std::make_unique<TObservedRegistry>(
                          std::make_unique<TFileRegistry>(Store(), Types(types)), Log, failCreate),
                      exe);
  }
  TLog Log;
};

}  // namespace

TEST(ShellVerbs, CurrencySignsStandBeforeAndAfterTheWords) {
  EXPECT_EQ(CheckSfvVerb(), "\xC2\xA4 Check SFV File \xC2\xA4");
  EXPECT_EQ(CreateSfvVerb(), "\xC2\xA4 Create SFV File \xC2\xA4");
  EXPECT_EQ(QString::fromStdString(CreateSfvVerb()), QString::fromUtf8("¤ Create SFV File ¤"));
}

TEST_F(TShellFixture, WritesTheSixKeysWithTheProgramPathUnquoted) {
  const std::string exe = "/opt/my tools/tallyra";
  Register(exe);
  const TRegistryContents c = Contents();
  const std::pair<std::string, std::string> expected[] = {
      {".sfv", "Tallyra"},
      {"Tallyra", "Tallyra File"},
      {"Tallyra\\DefaultIcon", "/opt/my tools/tallyra,0"},
      {"Tallyra\\shell\\open\\command", "/opt/my tools/tallyra /C \"%1\""},
      {Check, "/opt/my tools/tallyra /C \"%1\""},
      {Create, "/opt/my tools/tallyra /M \"%1\""},
  };
  for (const auto& [key, value] : expected) {
    ASSERT_NE(c.Find(key), nullptr) << key;
    EXPECT_EQ(c.Find(key)->Path, key);  // the case and the "¤" bytes as written
    EXPECT_EQ(c.DefaultText(key), value) << key;
  }
  // Every key was opened from the root and closed before the next; the object went.
  const std::vector<std::string> calls = {
      "create .sfv", "close", "create Tallyra", "close", "create Tallyra\\DefaultIcon", "close",
      "create Tallyra\\shell\\open\\command", "close", "create " + Check, "close",
      "exists .rar", "open .rar", "close", "create " + Create, "close"};
  EXPECT_EQ(Log.Calls, calls);
  EXPECT_TRUE(Log.Freed);
}

TEST_F(TShellFixture, RegisteringTwiceLeavesWhatOnceLeaves) {
  Register("/usr/bin/tallyra");
  const std::string once = ReadWholeFile(Store());
  Register("/usr/bin/tallyra");
  EXPECT_EQ(ReadWholeFile(Store()), once);
}

TEST_F(TShellFixture, OtherValuesAndKeysAreLeftAlone) {
  Dir.Write("share/tallyra/classes.txt",
            "[.sfv]\n@=\"OldApp\"\n\"Content Type\"=\"text/plain\"\n[Tallyra\\shell\\edit]\n@=\"x\"\n");
  Register("/usr/bin/tallyra");
  const TRegistryContents c = Contents();
  EXPECT_EQ(c.DefaultText(".sfv"), "Tallyra");  // overwritten without a question
  EXPECT_EQ(c.Find(".sfv")->Values.at("content type").Data, "text/plain");
  EXPECT_EQ(c.DefaultText("Tallyra\\shell\\edit"), "x");
}

TEST_F(TShellFixture, WithoutARarTypeOnlyTheFirstFiveStepsAreWritten) {
  Register("/usr/bin/tallyra", {});
  const TRegistryContents c = Contents();
  EXPECT_EQ(c.DefaultText(Check), "/usr/bin/tallyra /C \"%1\"");
  for (const auto& [folded, key] : c.Keys) {
    EXPECT_EQ(key.Path.find("Create SFV File"), std::string::npos) << key.Path;
  }
  ASSERT_GE(Log.Calls.size(), 2u);
  EXPECT_EQ(Log.Calls[Log.Calls.size() - 2], "exists .rar");
  EXPECT_EQ(Log.Calls.back(), "close");  // the final step
  EXPECT_TRUE(Log.Freed);
}

TEST_F(TShellFixture, ARarKeyNamingNoTypeGetsNoVerb) {
  Dir.Write("share/tallyra/classes.txt", "[.rar]\n@=\"\"\n");
  Register("/usr/bin/tallyra");
  for (const auto& [folded, key] : Contents().Keys) {
    EXPECT_EQ(key.Path.find("shell\\\xC2\xA4 Create"), std::string::npos) << key.Path;
    EXPECT_NE(folded.substr(0, 5), "shell");
  }
}

TEST_F(TShellFixture, ARarTypeThatIsNotTextRaisesAndWritesNoVerb) {
  Dir.Write("share/tallyra/classes.txt", "[.rar]\n@=hex:00,01\n");
  try {
    Register("/usr/bin/tallyra");
    FAIL() << "no error raised";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for ''");
  }
  const TRegistryContents c = Contents();
  EXPECT_EQ(c.DefaultText(Check), "/usr/bin/tallyra /C \"%1\"");
  EXPECT_EQ(c.Find(Create), nullptr);
  EXPECT_TRUE(Log.Freed);
  EXPECT_EQ(Log.Calls.back(), "close");
}

TEST_F(TShellFixture, AKeyThatCannotBeMadeStopsTheRestAndKeepsTheStepsBefore) {
  const std::string steps[] = {".sfv", "Tallyra", "Tallyra\\DefaultIcon", "Tallyra\\shell\\open\\command", Check, Create};
  for (int failing = 1; failing <= 6; ++failing) {
    TTempDir dir;
    TLog log;
    const std::string store = dir.File("classes.txt");
    try {
      RegisterFileTypes(std::make_unique<TObservedRegistry>(
                            std::make_unique<TFileRegistry>(store, Types({{"rar", "application/vnd.rar"}})),
                            log, failing),
                        "/usr/bin/tallyra");
      ADD_FAILURE() << "step " << failing << " raised nothing";
    } catch (const ERegistryException& e) {
      EXPECT_STREQ(e.what(), "Failed to set data for ''") << failing;
    }
    EXPECT_TRUE(log.Freed) << failing;
    EXPECT_EQ(log.Calls.back(), "close") << failing;  // the final step closed the registry
    const TRegistryContents c = TFileRegistry(store, {}).Contents();
    for (int step = 1; step <= 6; ++step) {
      EXPECT_EQ(!c.DefaultText(steps[step - 1]).empty(), step < failing)
          << "failing step " << failing << ", step " << step;
    }
  }
}

TEST_F(TShellFixture, TheDesktopFilesRunTheProgramWithItsSwitches) {
  std::filesystem::create_directories(Dir.File("my apps"));
  const std::string exe = Dir.Write("my apps/tallyra", "");
  const std::string home = Dir.File("share");
  struct TTools final : IDesktopTools {
    std::vector<std::string> Programs;
    bool Run(const std::string& program, const std::vector<std::string>&) override {
      Programs.push_back(program);
      return true;
    }
  } tools;
  RegisterFileTypes(std::make_unique<TFileRegistry>(RegistryStorePath(home), Types({{"rar", "application/vnd.rar"}}),
                                                    [&](const TRegistryContents& c) { ReflectIntoDesktop(c, {home, home + "/config"}, tools); }),
                    exe);
  // The reflection ran when the registry object went, in the final step.
  EXPECT_EQ(tools.Programs, (std::vector<std::string>{"update-mime-database", "update-desktop-database"}));
  const std::string open = ReadWholeFile(home + "/applications/tallyra.desktop");
  EXPECT_NE(open.find("Exec=\"" + exe + "\" /C %f\n"), std::string::npos) << open;
  EXPECT_NE(open.find("MimeType=text/x-sfv;\n"), std::string::npos) << open;
  const std::string verb = ReadWholeFile(home + "/kio/servicemenus/tallyra-create-sfv-file.desktop");
  EXPECT_NE(verb.find("Name=Create SFV File\n"), std::string::npos) << verb;
  EXPECT_NE(verb.find("Exec=\"" + exe + "\" /M %f\n"), std::string::npos) << verb;
  EXPECT_TRUE(FileExists(home + "/mime/packages/tallyra.xml"));
}

TEST(DesktopMime, TheMimeDatabaseNamesRarFilesButNotMadeUpOnes) {
  const std::string rar = DesktopMimeTypeOfExtension("rar");
  EXPECT_NE(rar.find("rar"), std::string::npos) << rar;
  EXPECT_EQ(DesktopMimeTypeOfExtension("tallyra-no-such-extension"), "");
}

TEST(AboutPicture, TheEmbeddedJpegDecodesAt177By92) {
  const QImage picture = DecodeJpeg(AboutPictureJpeg, AboutPictureJpegSize);
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), QSize(177, 92));
  // Baseline: the start-of-frame marker is SOF0.
  const std::string bytes(reinterpret_cast<const char*>(AboutPictureJpeg), AboutPictureJpegSize);
  EXPECT_NE(bytes.find("\xFF\xC0"), std::string::npos);
  EXPECT_EQ(bytes.find("\xFF\xC2"), std::string::npos);
  // A picture, not a blank: the sky at the top is bluer than the hill at the bottom.
  const QColor sky = picture.pixelColor(5, 3);
  const QColor hill = picture.pixelColor(5, 88);
  EXPECT_GT(sky.blue(), sky.red());
  EXPECT_GT(hill.green(), hill.blue());
}

TEST(AboutPicture, DamagedDataGivesANullImage) {
  const unsigned char garbage[] = "not a jpeg at all";
  EXPECT_TRUE(DecodeJpeg(garbage, sizeof garbage).isNull());
  EXPECT_TRUE(DecodeJpeg(AboutPictureJpeg, 40).isNull());  // cut inside the headers
  EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());
  // Cut inside the picture data: libjpeg fills the rest, the size stays right.
  EXPECT_EQ(DecodeJpeg(AboutPictureJpeg, AboutPictureJpegSize / 2).size(), QSize(177, 92));
}

TEST(HelpText, NinetySixLinesInTheirSections) {
  QString text = QString::fromUtf8(HelpTextUtf8);
  ASSERT_TRUE(text.endsWith('\n'));
  text.chop(1);
  const QStringList lines = text.split('\n');
  EXPECT_EQ(lines.size(), 96);
  EXPECT_EQ(lines[0], "Readme for Tallyra version 2.0");
  EXPECT_EQ(lines[1], "");
  // The headings in order.
  const char* headings[] = {"What is Tallyra?", "What can Tallyra do?", "How to use Tallyra?",
                            "Creating SFV files:", "Checking SFV files:", "RAR Files:",
                            "Another new feature allows you to also create RAR files", "Thats it."};
  int at = 0;
  for (const char* heading : headings) {
    const int found = lines.indexOf(QString::fromLatin1(heading), at);
    EXPECT_GT(found, at) << heading;
    at = std::max(at, found);
  }
  for (const char* line : {"1. Create SFV files (CRC listing of a file or group of files).",
                           "3. Click the create button", "   named in the SFV file.", "   as the files to be checked",
                           "New feature added that allows you to unrar.", "2. Choose the options you wish to use:",
                           "A. Create SFV after compress", "G. Volume size", "Enjoy"}) {
    EXPECT_TRUE(lines.contains(QString::fromLatin1(line))) << line;
  }
  // One in each numbered list, and two in "Creating SFV files:", as the guide always had it.
  EXPECT_EQ(lines.filter(QRegularExpression("^3\\. ")).size(), 5);
  // Continuations are indented by three blanks, option explanations by five; no tabs.
  for (const QString& line : lines) {
    EXPECT_FALSE(line.contains('\t'));
    const qsizetype indent = line.size() - QString(line).remove(QRegularExpression("^ +")).size();
    EXPECT_TRUE(indent == 0 || indent == 3 || indent == 5) << line.toStdString();
  }
  EXPECT_TRUE(lines.last().contains("Tallyra developers"));
}

// The program's own registry object, with the desktop's MIME database and tools, below
// temporary data and config folders (xdg-mime writes its default into XDG_CONFIG_HOME).
TEST(DesktopRegistry, RegistersBelowTheXdgFolders) {
  TTempDir dir;
  struct TEnv {
    std::string Name, Old;
    bool Had;
    TEnv(const char* name, const std::string& value) : Name(name) {
      const char* old = std::getenv(name);
      Had = old != nullptr;
      Old = Had ? old : "";
      setenv(name, value.c_str(), 1);
    }
    ~TEnv() { Had ? setenv(Name.c_str(), Old.c_str(), 1) : unsetenv(Name.c_str()); }
  } data("XDG_DATA_HOME", dir.File("data")), config("XDG_CONFIG_HOME", dir.File("config"));
  std::filesystem::create_directories(dir.File("config"));
  std::filesystem::create_directories(dir.File("bin dir"));
  const std::string exe = dir.Write("bin dir/tallyra", "");

  RegisterFileTypes(CreateDesktopRegistry(), exe);

  const TRegistryContents c = TFileRegistry(dir.File("data/tallyra/classes.txt"), {}).Contents();
  EXPECT_EQ(c.DefaultText(".sfv"), "Tallyra");
  const std::string rarType = DesktopMimeTypeOfExtension("rar");
  ASSERT_FALSE(rarType.empty());
  EXPECT_EQ(c.DefaultText(rarType + "\\shell\\" + CreateSfvVerb() + "\\command"), exe + " /M \"%1\"");
  const std::string entry = ReadWholeFile(dir.File("data/applications/tallyra.desktop"));
  EXPECT_NE(entry.find("Exec=\"" + exe + "\" /C %f\n"), std::string::npos) << entry;
  EXPECT_NE(ReadWholeFile(dir.File("config/mimeapps.list")).find("text/x-sfv=tallyra.desktop;"), std::string::npos);
  if (FileExists("/usr/bin/update-mime-database")) {
    EXPECT_NE(ReadWholeFile(dir.File("data/mime/globs2")).find("text/x-sfv:*.sfv"), std::string::npos);
  }
}
