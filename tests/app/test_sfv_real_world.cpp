// The SFV pages on what the real world hands them: links, FIFOs, SFV files written on
// Windows, and a user's locale with a decimal comma.
#include "checksum/SfvFile.h"
#include "controls/FilCtl95.h"
#include "platform/FileSystem.h"
#include "WindowFixture.h"

#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <filesystem>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TRealWorld : TWindowFixture {
  std::string Mine, Theirs;  // the folder the user names, and one elsewhere
  void SetUp() override {
    Mine = Dir.File("mine");
    Theirs = Dir.File("theirs");
    std::filesystem::create_directory(Mine);
    std::filesystem::create_directory(Theirs);
  }
  static QStringList Items(const TForm1& form) {
    QStringList items;
    for (int i = 0; i < form.ListBox1->count(); ++i) items << form.ListBox1->item(i)->text();
    return items;
  }
};

// Stops the test program should a read hang after all, instead of stalling the suite.
struct TAlarm {
  explicit TAlarm(unsigned seconds) { alarm(seconds); }
  ~TAlarm() { alarm(0); }
};

}  // namespace

TEST_F(TRealWorld, ACheckOfALinkedSfvRunsInTheLinksFolder) {
  // The same names on both sides; only the files beside the link match the SFV.
  Dir.Write("theirs/set.sfv", "good.bin CBF43926\r\n");
  Dir.Write("theirs/good.bin", "not these bytes");
  Dir.Write("mine/good.bin", "123456789");
  ASSERT_EQ(symlink((Theirs + "/set.sfv").c_str(), (Mine + "/set.sfv").c_str()), 0);
  auto form = Open({"/C", Q(Mine + "/set.sfv")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ListBox1->count() > 0 && !form->Timer1->isActive(); }, 3000));
  EXPECT_EQ(form->WorkDir, Q(LongPathName(Mine) + "/"));
  EXPECT_EQ(Items(*form).value(0), "good.bin|Passed|cbf43926");
}

TEST_F(TRealWorld, AnMStartOnALinkWritesBesideTheLinkOnly) {
  Dir.Write("theirs/target.rar", "123456789");
  Dir.Write("theirs/target.r00", "elsewhere");
  Dir.Write("mine/set.r00", "hello");
  ASSERT_EQ(symlink((Theirs + "/target.rar").c_str(), (Mine + "/set.rar").c_str()), 0);
  Dir.Write("tallyra.ini", "[Options]\r\nNewNameType=0\r\n");  // "First selected filename"
  auto form = Open({"/M", Q(Mine + "/set.rar")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(Mine + "/set.sfv"); }, 4000));
  const auto entries = ReadSfvEntries(ReadWholeFile(Mine + "/set.sfv"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "set.r00");
  EXPECT_EQ(entries[1].Name, "set.rar");
  EXPECT_EQ(entries[1].Crc, "cbf43926");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Theirs), {}), 2);  // nothing new there
}

TEST_F(TRealWorld, AFifoGivenWithCNeverBlocksTheWindow) {
  const TAlarm bound(60);
  ASSERT_EQ(mkfifo((Mine + "/pipe.sfv").c_str(), 0644), 0);
  auto form = Open({"/C", Q(Mine + "/pipe.sfv")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Dialogs.Calls.empty(); }, 3000));
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Exception),
            QStringList{"Cannot open file " + Q(LongPathName(Mine) + "/pipe.sfv")});
  EXPECT_EQ(form->ListBox1->count(), 0);
}

TEST_F(TRealWorld, TheListShowsWindowsNamesAsWritten) {
  std::filesystem::create_directory(Mine + "/CD1");
  Dir.Write("mine/CD1/Caf\xC3\xA9.rar", "123456789");
  Dir.Write("mine/set.sfv", "cd1\\caf\xE9.RAR CBF43926\r\n");  // Windows-1252, another letter case
  auto form = Open();
  form->Directory95ListBox1->SetDirectory(Q(Mine));
  form->FileListBox1->SetFileName("set.sfv");
  form->GradBtn5Click();
  EXPECT_EQ(Items(*form).value(0).toStdString(), "cd1\\caf\xC3\xA9.RAR|Passed|cbf43926");
}

TEST_F(TRealWorld, TheSummaryReadsTheSameUnderADecimalCommaLocale) {
  // A German locale, made in a folder of the test's own: no root, no system locale needed.
  const std::string locales = Dir.File("locales");
  std::filesystem::create_directory(locales);
  QProcess localedef;
  localedef.start("localedef", {"-i", "de_DE", "-f", "UTF-8", Q(locales + "/de_DE.UTF-8")});
  ASSERT_TRUE(localedef.waitForFinished(120000)) << "localedef (Debian package locales) is a test dependency";
  ASSERT_EQ(setenv("LOCPATH", locales.c_str(), 1), 0);
  const locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", locale_t(nullptr));
  unsetenv("LOCPATH");
  ASSERT_NE(german, locale_t(nullptr)) << "de_DE.UTF-8 could not be made: " << localedef.readAllStandardError().toStdString();
  const locale_t plain = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));

  Dir.Write("mine/big.bin", std::string(1 << 20, 'x'));
  Dir.Write("mine/set.sfv", "big.bin 00000000\r\n");
  Clock.Step = 7;  // odd milliseconds: fractions in the times
  auto summary = [&](locale_t locale) {
    auto form = Open();
    form->Directory95ListBox1->SetDirectory(Q(Mine));
    form->FileListBox1->SetFileName("set.sfv");
    const locale_t old = uselocale(locale);
    form->GradBtn5Click();
    uselocale(old);
    return Items(*form).mid(2);  // the counts, the times, the verdict, the speed
  };
  const QStringList c = summary(plain);
  const QStringList de = summary(german);
  freelocale(german);
  freelocale(plain);
  ASSERT_EQ(c.size(), 9);
  EXPECT_TRUE(c[6].contains(QRegularExpression("^Seconds : \\|\\d{5}\\.\\d{5,6}$"))) << c[6].toStdString();
  EXPECT_TRUE(c[8].contains(QRegularExpression("^Checked at : \\|\\d{1,3}(,\\d{3})*(\\.\\d+)? K/s$")))
      << c[8].toStdString();
  EXPECT_EQ(de.join("\n").toStdString(), c.join("\n").toStdString());
}
