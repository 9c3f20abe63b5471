#pragma once
#include <array>
#include <string>
#include <vector>

struct TSpan {
  int Left = 0;
  int Width = 0;
  bool operator==(const TSpan&) const = default;
};

// The four buttons of a page bar of width W: start, halt, clear at W div 4 - 1 each,
// exit at W div 4, side by side from the left edge 2.
std::array<TSpan, 4> ButtonBarLayout(int barWidth);

struct TStatusLayout {
  int Panel0 = 0;          // width of the status label's panel
  int Panel1 = 0;          // width of the progress bar's panel
  TSpan Progress;          // the progress bar inside the status bar
};

TStatusLayout StatusBarLayout(int windowWidth);

// The "Store path level" items for a folder: "DO NOT STORE PATHS", then the deepest
// folder, then ever longer tails up to the whole path below the root.
std::vector<std::string> StorePathItems(const std::string& folder);
