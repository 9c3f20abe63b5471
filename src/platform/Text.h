#pragma once
// Letter case of ASCII letters only, as switches, extensions and set names compare; other
// bytes (UTF-8 sequences included) stay as they are.
#include <algorithm>
#include <string>

inline std::string UpperCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
  return s;
}

inline std::string LowerCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return s;
}
