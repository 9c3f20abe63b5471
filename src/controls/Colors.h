#pragma once
// Colour values and the small drawing helpers shared by the gradient button and the
// cylinder bar. A TColor is 32 bits: the low three bytes are red, green and blue; with the
// top bit set the low byte names a system colour by index instead.
#include <QColor>
#include <QImage>
#include <QPalette>
#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindow = 0x80000005;
constexpr TColor clHighlight = 0x8000000D;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clBtnHighlight = 0x80000014;
constexpr TColor cl3DDkShadow = 0x80000015;
constexpr TColor cl3DLight = 0x80000016;

constexpr bool IsSystemColor(TColor c) { return (c & 0x80000000u) != 0; }
constexpr int RedOf(TColor c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }
constexpr TColor RGBColor(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// The RGB value a colour paints with; system colours come from the palette's nearest role.
inline QColor ColorToRGB(TColor c, const QPalette& palette) {
  if (!IsSystemColor(c)) return QColor(RedOf(c), GreenOf(c), BlueOf(c));
  switch (c & 0xFF) {
    case 0x05: return palette.color(QPalette::Active, QPalette::Base);
    case 0x08: return palette.color(QPalette::Active, QPalette::Text);
    case 0x0D: return palette.color(QPalette::Active, QPalette::Highlight);
    case 0x0E: return palette.color(QPalette::Active, QPalette::HighlightedText);
    case 0x0F: return palette.color(QPalette::Active, QPalette::Button);
    case 0x10: return palette.color(QPalette::Active, QPalette::Dark);
    case 0x12: return palette.color(QPalette::Active, QPalette::ButtonText);
    case 0x14: return palette.color(QPalette::Active, QPalette::Light);
    case 0x15: return palette.color(QPalette::Active, QPalette::Shadow);
    case 0x16: return palette.color(QPalette::Active, QPalette::Midlight);
    default: return palette.color(QPalette::Active, QPalette::Window);
  }
}

// a*b/c in 64 bits, rounded to nearest with halves away from zero; -1 when c is 0, as the
// system call it stands for answers.
inline int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const std::int64_t p = static_cast<std::int64_t>(a) * b;
  const bool negative = (p < 0) != (c < 0);
  const std::uint64_t ap = static_cast<std::uint64_t>(p < 0 ? -p : p);
  const std::uint64_t ac = static_cast<std::uint64_t>(c < 0 ? -static_cast<std::int64_t>(c) : c);
  const auto q = static_cast<std::int64_t>((2 * ap + ac) / (2 * ac));
  return static_cast<int>(negative ? -q : q);
}

// A bevel frame `depth` one-pixel rectangles deep on r (right and bottom exclusive): left
// and top edges in `topLeft`, right and bottom edges in `bottomRight`, which also takes
// both outer corners it shares with the other colour.
inline void Frame3D(QImage& image, QRect r, QRgb topLeft, QRgb bottomRight, int depth) {
  auto put = [&image](int x, int y, QRgb c) {
    if (image.valid(x, y)) image.setPixel(x, y, c);
  };
  int left = r.left(), top = r.top(), right = r.left() + r.width() - 1,
      bottom = r.top() + r.height() - 1;
  for (; depth > 0 && left <= right && top <= bottom; --depth) {
    for (int y = top; y < bottom; ++y) put(left, y, topLeft);
    for (int x = left; x < right; ++x) put(x, top, topLeft);
    for (int y = top; y <= bottom; ++y) put(right, y, bottomRight);
    for (int x = left; x <= right; ++x) put(x, bottom, bottomRight);
    ++left;
    ++top;
    --right;
    --bottom;
  }
}
