#pragma once
#include "checksum/CrcEngine.h"

#include <array>
#include <memory>
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
  // Page-aligned, as the window's: the kernel copies into it markedly faster.
  struct alignas(4096) TChunk {
    std::array<std::uint8_t, CrcReadChunkSize> Bytes;
  };
  std::unique_ptr<TChunk> buffer_ = std::make_unique<TChunk>();
  TCrcReader reader_{buffer_->Bytes, SystemClock()};
};

// "Tallyra Version 2.0.0 Build N", the title the window shows when idle.
std::string CliStatusTitle();

// The names of a folder's regular files in the order the window's file lists show them:
// without regard to letter case first, then byte order; dot-names left out.
std::vector<std::string> ListFolderFiles(const std::string& folder);

int RunCreate(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunUnRar(const std::vector<std::string>& args);
