#include "archive/aknMasks.h"

#include <optional>

namespace {

constexpr std::uint8_t KindLiteral = 0;
constexpr std::uint8_t KindAny = 1;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct TBacktrack {
  std::size_t NamePos;
  std::size_t Item;
};

}  // namespace

TInternalMask::TInternalMask(const std::string& mask) {
  bool star = false;
  for (const char c : mask) {
    if (c == '*') {
      star = true;
    } else if (c == '?') {
      // A `?` right after a `*` adds nothing the star does not already cover.
      if (!star) FItems.push_back({false, KindAny, 0});
    } else {
      FItems.push_back({star, KindLiteral, UpperAscii(c)});
      star = false;
    }
  }
  FItems.push_back({star, KindLiteral, '\0'});
  FTrailingDot = !mask.empty() && mask.back() == '.';
}

bool TInternalMask::Matches(const std::string& source) const {
  std::string name = source;
  // "*." then matches names without an extension.
  if (FTrailingDot && name.find('.') == std::string::npos) name += '.';
  const std::size_t length = name.size();
  auto at = [&](std::size_t pos) { return pos < length ? UpperAscii(name[pos]) : '\0'; };

  // Only the newest star's point is kept. Going back to an older star can never
  // help once the newest one has run out of places: moving an older star only
  // starts the newer one later. Keeping one point makes failing matches linear
  // instead of exponential, and any number of stars fits.
  std::optional<TBacktrack> point;
  std::size_t pos = 0;
  std::size_t item = 0;
  for (;;) {
    const TMaskItem& m = FItems[item];
    if (m.Star) {
      while (pos < length && at(pos) != m.Literal) ++pos;
      if (pos < length) point = TBacktrack{pos + 1, item};
    }
    bool matched = false;
    if (m.Kind == KindAny) {
      matched = pos < length;
    } else if (m.Literal == '\0') {
      // The end item: the name has to end here too.
      if (item + 1 == FItems.size()) {
        if (pos == length) return true;
      } else {
        matched = pos < length && name[pos] == '\0';
      }
    } else {
      matched = pos < length && at(pos) == m.Literal;
    }
    if (matched) {
      ++pos;
      ++item;
      continue;
    }
    if (!point) return false;
    pos = point->NamePos;
    item = point->Item;
    point.reset();
  }
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  const TInternalMask compiled(mask);
  return compiled.Matches(name);
}
