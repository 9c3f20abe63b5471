#pragma once
// The command line of the external archiver for the "Create RAR" page: the switches as
// one text (what the page builds and shows) and as the argument list the archiver is
// started with. Both come from the same options.
#include <string>
#include <vector>

struct TRarOptions {
  int CompressionIndex = 3;      // the item index of "Compression level:" (-1: none chosen)
  bool Password = false;         // "Password protect"
  bool EncryptHeaders = false;   // "Encrypt both file data and headers": -hp replaces -p
  bool Sfx = false;              // "Create SFX  archive"
  std::string PasswordText;
  std::string StorePath;         // the chosen "Store path level:" item; empty for the first
  std::string VolumeSwitch;      // "15000000b", or empty before any volume size was chosen
};

// The size text of a "Volume size:" index ("1000000b" ...); empty for an index outside
// the list, which keeps the previous run's switch.
std::string VolumeSizeText(int index);

// " a -vn -ep -v15000000b -m3 ... \"/out/set.rar\" @rarlist.txt". The password is quoted
// when it holds a blank or a quote, so the text shows it whole.
std::string BuildRarCommand(const TRarOptions& options, const std::string& archivePath);

// The same as arguments: "a", "-vn", "-ep", "-v15000000b", "-m3", ..., the archive,
// "@rarlist.txt". A password with blanks stays one argument.
std::vector<std::string> BuildRarArguments(const TRarOptions& options,
                                           const std::string& archivePath);

// The list file's text: each path followed by CR LF.
std::string RarListText(const std::vector<std::string>& paths);

// How a run of the archiver ended.
enum class TRarOutcome { Missing, NotStarted, Halted, Crashed, Exited };
struct TRarRun {
  TRarOutcome Outcome = TRarOutcome::Missing;
  int ExitCode = 0;       // when Exited
  std::string LastLine;   // the last line it printed, or why it could not be started
};

// Whether the archive the archiver was asked for is there: the .rar path, or with SFX
// the same name as ".exe", ".sfx" or without extension, as archivers name them.
bool ArchiveWritten(const std::string& archivePath, bool sfx);

// Why a run left no archive to make an SFV of, as the page says it ("rar Not found",
// "rar ended with exit status 3" ...); "" when it exited with 0 and the archive is there.
std::string RarRunProblem(const TRarRun& run, const std::string& archivePath, bool archiveWritten);

inline constexpr const char* RarListName = "rarlist.txt";
inline constexpr const char* RarArchiverName = "rar";
