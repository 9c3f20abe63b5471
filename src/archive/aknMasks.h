#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// FileSpec masks: `*` any run of characters, `?` one character, everything else
// literal (`[` and `]` included). Letters a to z compare without case; no other
// character is folded.
class TInternalMask {
 public:
  explicit TInternalMask(const std::string& mask);

  bool Matches(const std::string& name) const;

  struct TMaskItem {
    bool Star;           // a `*` stood before this item
    std::uint8_t Kind;   // 0 literal character, 1 any single character
    char Literal;        // upper case; NUL ends the mask
  };
  const std::vector<TMaskItem>& Items() const { return FItems; }
  bool TrailingDot() const { return FTrailingDot; }

 private:
  std::vector<TMaskItem> FItems;  // always ends with a literal NUL item
  bool FTrailingDot = false;
};

// Compiles the mask, matches the name, and drops the mask again.
bool MatchesMask(const std::string& name, const std::string& mask);
