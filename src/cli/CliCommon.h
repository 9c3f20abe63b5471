#pragma once
#include "checksum/CrcEngine.h"

#include <string>
#include <vector>

// Exit statuses shared by the commands.
enum TCliExit { ceOk = 0, ceFailed = 1, ceUsage = 2, ceInterrupted = 3 };

// Set by Ctrl-C; the engines poll it as the window polls "&Halt".
bool CliHalted();
void InstallInterruptHandler();

// Sums one file after another with one block buffer; Ctrl-C halts the read.
class TCliCrcReader {
public:
  TFileCrcResult operator()(const std::string& path);

private:
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(CrcBlockSize);
  TCrcReader reader_{buffer_, SystemClock()};
};

// "Tallyra Version 2.0.0 Build N", the title the window shows when idle.
std::string CliStatusTitle();

// The names of a folder's regular files in the order the window's file lists show them:
// without regard to letter case first, then byte order; dot-names left out.
std::vector<std::string> ListFolderFiles(const std::string& folder);

int RunCreate(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunUnRar(const std::vector<std::string>& args);
