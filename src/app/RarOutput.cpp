#include "app/RarOutput.h"

#include <cctype>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Collapsed(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (IsBlank(c)) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Takes a trailing "NN%" off the text; the percentage, or -1 when there is none.
int TakePercent(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  if (end == 0 || text[end - 1] != '%') return -1;
  std::size_t start = end - 1;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1])) != 0 && end - 1 - start < 3) --start;
  if (start == end - 1) return -1;
  // "x12%": a number glued to a word is part of a name, not a percentage.
  if (start > 0 && !IsBlank(text[start - 1])) return -1;
  const int value = std::stoi(text.substr(start, end - 1 - start));
  if (value > 100) return -1;
  text.resize(start);
  return value;
}

void TakeClosingOk(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  if (end >= 3 && text.compare(end - 2, 2, "OK") == 0 && IsBlank(text[end - 3])) text.resize(end - 2);
}

}  // namespace

void TRarOutputParser::Feed(std::string_view bytes) {
  for (char c : bytes) {
    switch (c) {
      case '\n':
        Interpret(true);
        line_.clear();
        cursor_ = 0;
        break;
      case '\r':
        cursor_ = 0;
        break;
      case '\b':
        if (cursor_ > 0) --cursor_;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') break;  // other controls draw nothing
        if (cursor_ < line_.size()) {
          line_[cursor_] = c;
        } else if (line_.size() < MaxLineLength) {
          line_ += c;
        } else {
          break;  // past the cap the line keeps what it has
        }
        ++cursor_;
        // A percentage counts once it is whole: however the pipe cut the rewrite, the
        // value is read when its "%" lands.
        if (c == '%') {
          std::string upToCursor = line_.substr(0, cursor_);
          const int percent = TakePercent(upToCursor);
          if (percent >= 0) percent_ = percent;
        }
    }
  }
  Interpret(false);
}

void TRarOutputParser::Interpret(bool finished) {
  std::string text = line_;
  TakeClosingOk(text);
  TakePercent(text);
  TakeClosingOk(text);
  const std::string step = Collapsed(text);
  if (step.empty()) return;
  step_ = step;
  if (finished) lastLine_ = step;
}
