#include "unrar/RarVolumes.h"

#include <cctype>

namespace {

// Adds one to the decimal digits in [first, last), growing the run when it overflows.
void IncrementDigits(std::string& name, size_t first, size_t last) {
  size_t i = last;
  while (i > first) {
    --i;
    if (name[i] != '9') {
      ++name[i];
      return;
    }
    name[i] = '0';
  }
  name.insert(first, 1, '1');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string NextOldStyle(const std::string& current, size_t dot) {
  std::string name = current;
  if (dot == std::string::npos) return name + ".r00";
  size_t extLength = name.size() - dot - 1;
  bool allDigits = extLength > 0;
  for (size_t i = dot + 1; i < name.size(); ++i) allDigits = allDigits && IsDigit(name[i]);
  if (allDigits) {
    IncrementDigits(name, dot + 1, name.size());
    return name;
  }
  if (extLength == 3 && std::isalpha(uint8_t(name[dot + 1])) && IsDigit(name[dot + 2]) && IsDigit(name[dot + 3])) {
    if (name[dot + 2] == '9' && name[dot + 3] == '9') {
      // .r99 is followed by .s00, .s99 by .t00 and so on.
      name[dot + 1] = char(name[dot + 1] + 1);
      name[dot + 2] = name[dot + 3] = '0';
    } else {
      IncrementDigits(name, dot + 2, dot + 4);
    }
    return name;
  }
  bool upper = extLength > 0 && std::isupper(uint8_t(name[dot + 1]));
  return name.substr(0, dot) + (upper ? ".R00" : ".r00");
}

}  // namespace

std::string NextVolumeName(const std::string& current, bool newNaming) {
  size_t slash = current.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = current.rfind('.');
  if (dot != std::string::npos && dot < base) dot = std::string::npos;
  if (newNaming && dot != std::string::npos) {
    // The volume number is the last run of digits before the extension.
    size_t end = dot;
    while (end > base && !IsDigit(current[end - 1])) --end;
    size_t start = end;
    while (start > base && IsDigit(current[start - 1])) --start;
    if (start < end) {
      std::string name = current;
      IncrementDigits(name, start, end);
      return name;
    }
  }
  return NextOldStyle(current, dot);
}
