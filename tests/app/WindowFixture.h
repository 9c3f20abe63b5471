#pragma once
// A main window over a temporary program folder, with scripted dialogs.
#include "app/Unit1.h"
#include "platform/ScriptedDialogs.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>

// A clock that moves on by a fixed step at every reading, so that work "takes" time.
class TSteppingClock final : public IClock {
public:
  std::uint64_t MilliSeconds() const override { return now_ += Step; }
  std::uint64_t Step = 0;

private:
  mutable std::uint64_t now_ = 1000;
};

struct TWindowFixture : ::testing::Test {
  TTempDir Dir;  // plays the program's folder
  TScriptedDialogs Dialogs;
  TSteppingClock Clock;

  std::unique_ptr<TForm1> Open(const QStringList& args = {}) {
    TFormServices services;
    services.Paths = ProgramPathsFor(Dir.File("tallyra"));
    services.Dialogs = &Dialogs;
    services.Clock = &Clock;
    services.UnRarLibraryDir = TALLYRA_UNRAR_DIR;
    services.Arguments = args;
    return std::make_unique<TForm1>(services);
  }
  std::string Ini() const { return ReadWholeFile(Dir.File("tallyra.ini")); }
  QString Q(const std::string& s) const { return QString::fromStdString(s); }
};

