#pragma once
// Reads the external archiver's console output while it runs, for the "Create RAR" page:
// its current step ("Creating archive /out/set.rar", "Adding /maps/a.bsp") and the
// percentage it shows. The archiver rewrites its percentage in place with backspaces
// (" 45%\b\b\b\b 46%") and ends a file's line with "OK", so the text is replayed on a
// model of one terminal line: '\b' moves back, '\r' to the start, later text overwrites.
// The output is untrusted: any bytes in any chunking give some step and percentage,
// lines are capped, and nothing is ever read past what was fed.
#include <string>
#include <string_view>

class TRarOutputParser {
public:
  void Feed(std::string_view bytes);

  // The step of the line being written, or of the last line that had one; blanks
  // collapsed, the percentage and a closing "OK" left out.
  const std::string& Step() const { return step_; }
  // The last percentage shown (0..100), or -1 before any.
  int Percent() const { return percent_; }
  // The last finished line that said anything: what an error message quotes.
  const std::string& LastLine() const { return lastLine_; }

  static constexpr std::size_t MaxLineLength = 4096;

private:
  void Interpret(bool finished);

  std::string line_;
  std::size_t cursor_ = 0;
  std::string step_;
  std::string lastLine_;
  int percent_ = -1;
};
