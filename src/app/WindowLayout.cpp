#include "app/WindowLayout.h"

#include "platform/FileSystem.h"

std::array<TSpan, 4> ButtonBarLayout(int barWidth) {
  const int quarter = barWidth / 4;  // integer division, truncating toward zero
  std::array<TSpan, 4> spans;
  int left = 2;
  for (std::size_t i = 0; i < spans.size(); ++i) {
    spans[i] = {left, i + 1 < spans.size() ? quarter - 1 : quarter};
    left += spans[i].Width;
  }
  return spans;
}

TStatusLayout StatusBarLayout(int windowWidth) {
  TStatusLayout layout;
  layout.Panel0 = windowWidth / 2;
  layout.Panel1 = windowWidth / 2;
  layout.Progress = {layout.Panel0, layout.Panel1 - 8};
  return layout;
}

std::vector<std::string> StorePathItems(const std::string& folder) {
  std::vector<std::string> items = {"DO NOT STORE PATHS"};
  // Every separator counts, from the first character on: the root has no drive part.
  for (std::size_t pos = folder.size(); pos-- > 0;) {
    if (folder[pos] == PathDelim) items.push_back(folder.substr(pos + 1));
  }
  return items;
}
