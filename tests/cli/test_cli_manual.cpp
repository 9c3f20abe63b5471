// The manual page and the --help texts tell of the same commands, options and exit
// statuses, so that neither can drift from the other. The page lists a command's options
// as items of the command's subsection (".SS tallyra-cli COMMAND ...") and its statuses as
// ".B N" items after the line "Exit status"; the top level's options stand under OPTIONS.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <iostream>
#include <map>
#include <optional>
#include <set>

namespace {

using TNames = std::set<QString>;

struct TFacts {
  TNames Options;
  TNames Statuses;
};

// Options named in a text: -x, --long-name, and "--" alone. A dash inside a word
// (Ctrl-C, multi-volume, UTF-8) is no option.
TNames OptionsIn(const QString& text) {
  static const QRegularExpression option(QStringLiteral(R"((?<![\w-])(--?[A-Za-z][A-Za-z0-9-]*|--)(?![\w-]))"));
  TNames names;
  for (const QRegularExpressionMatch& m : option.globalMatch(text)) names.insert(m.captured(1));
  return names;
}

// The page's source with roff's escapes for dashes and fonts taken out.
QString PlainRoff(QString line) {
  static const QRegularExpression font(QStringLiteral(R"(\\f[BIRP])"));
  line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
  line.remove(font);
  return line;
}

// Per command ("" for the top level) what its part of the page lists.
std::map<QString, TFacts> ManualFacts(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  std::map<QString, TFacts> facts;
  static const QRegularExpression command(QStringLiteral(R"(^\.SS "?tallyra-cli (\w+))"));
  static const QRegularExpression status(QStringLiteral(R"(^\.B (\d)\s*$)"));
  std::optional<QString> current;  // the command whose part is being read; none outside
  bool inStatuses = false;
  for (const QString& raw : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
    const QString line = PlainRoff(raw);
    if (line.startsWith(QLatin1String(".SS")) || line.startsWith(QLatin1String(".SH"))) {
      const QRegularExpressionMatch m = command.match(line);
      current.reset();
      if (m.hasMatch()) current = m.captured(1);
      if (line == QLatin1String(".SH OPTIONS")) current = QString();
      inStatuses = false;
      if (current) facts[*current];
    }
    if (!current || line.startsWith(QLatin1String(".\\\""))) continue;
    if (line.startsWith(QLatin1String("Exit status"))) inStatuses = true;
    const QRegularExpressionMatch s = status.match(line);
    if (inStatuses && s.hasMatch()) {
      facts[*current].Statuses.insert(s.captured(1));
    } else {
      for (const QString& o : OptionsIn(line)) facts[*current].Options.insert(o);
    }
  }
  return facts;
}

TFacts HelpFacts(const QStringList& args) {
  const TCliRun run = RunCli(args);
  EXPECT_EQ(run.ExitCode, 0) << args.join(QLatin1Char(' ')).toStdString();
  TFacts facts;
  facts.Options = OptionsIn(run.Out);
  const qsizetype exit = run.Out.indexOf(QLatin1String("Exit status:"));
  if (exit >= 0) {
    static const QRegularExpression number(QStringLiteral(R"((?<![\w.-])(\d)(?![\w.]))"));
    for (const QRegularExpressionMatch& m : number.globalMatch(run.Out.mid(exit))) facts.Statuses.insert(m.captured(1));
  }
  return facts;
}

std::string Join(const TNames& names) {
  QStringList list(names.begin(), names.end());
  return list.join(QLatin1Char(' ')).toStdString();
}

TNames Minus(const TNames& a, const TNames& b) {
  TNames rest;
  for (const QString& x : a) {
    if (b.count(x) == 0) rest.insert(x);
  }
  return rest;
}

}  // namespace

TEST(CliManual, ListsWhatTheHelpTextsList) {
  const std::map<QString, TFacts> manual = ManualFacts(QStringLiteral(TALLYRA_MAN_DIR "/tallyra-cli.1"));

  // The commands: those the usage lists, each with a part of its own on the page.
  const TCliRun usage = RunCli({QStringLiteral("--help")});
  static const QRegularExpression commandLine(QStringLiteral(R"(^  (\w+)\s{2,})"),
                                              QRegularExpression::MultilineOption);
  TNames commands{QString()};
  for (const QRegularExpressionMatch& m : commandLine.globalMatch(usage.Out)) commands.insert(m.captured(1));
  TNames documented;
  for (const auto& [name, facts] : manual) documented.insert(name);
  EXPECT_EQ(Join(documented), Join(commands));

  // Every command takes -h and --help; the page says so once for all of them.
  const TNames implicit{QStringLiteral("-h"), QStringLiteral("--help")};
  // What the page documents before the program has it: empty these as the options land.
  const std::map<QString, TFacts> ahead = {
  };
  for (const QString& command : commands) {
    SCOPED_TRACE(command.isEmpty() ? std::string("top level") : command.toStdString());
    QStringList args;
    if (!command.isEmpty()) args << command;
    const TFacts help = HelpFacts(args << QStringLiteral("--help"));
    const TFacts& page = manual.at(command);
    const TFacts early = ahead.count(command) ? ahead.at(command) : TFacts{};
    EXPECT_EQ(Join(Minus(help.Options, page.Options)), "") << "options the page does not document";
    TNames allowed = help.Options;
    allowed.insert(implicit.begin(), implicit.end());
    allowed.insert(early.Options.begin(), early.Options.end());
    EXPECT_EQ(Join(Minus(page.Options, allowed)), "") << "options the program does not have";
    const TNames landed = Minus(early.Options, Minus(early.Options, help.Options));
    if (!landed.empty()) std::cout << "landed, take out of the ahead table: " << Join(landed) << "\n";
    EXPECT_EQ(Join(Minus(help.Statuses, page.Statuses)), "") << "exit statuses the page does not document";
    EXPECT_EQ(Join(Minus(Minus(page.Statuses, help.Statuses), early.Statuses)), "")
        << "exit statuses the program does not have";
  }
}
