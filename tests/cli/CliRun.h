#pragma once
// Runs tallyra-cli and collects what it printed.
#include <QProcess>
#include <QStringList>
#include <functional>

struct TCliRun {
  int ExitCode = -1;
  QString Out;
  QString Err;
};

// whileRunning, when given, is called once the program has started. A program still
// running after timeoutMs is killed, and the run counts as failed (exit code -1).
inline TCliRun RunCli(const QStringList& args, const QString& folder = {},
                      const std::function<void(QProcess&)>& whileRunning = {}, int timeoutMs = 120000) {
  QProcess process;
  if (!folder.isEmpty()) process.setWorkingDirectory(folder);
  process.start(QStringLiteral(TALLYRA_CLI), args);
  process.waitForStarted();
  if (whileRunning) whileRunning(process);
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    return {-1, QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardOutput()),
          QString::fromLocal8Bit(process.readAllStandardError())};
}

// Runs another program to its end; its exit code, or -1 when it could not run.
inline int RunTool(const QString& program, const QStringList& args, const QString& folder) {
  QProcess process;
  process.setWorkingDirectory(folder);
  process.start(program, args);
  if (!process.waitForStarted() || !process.waitForFinished(60000)) return -1;
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
