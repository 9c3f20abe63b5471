#pragma once
// Baseline JPEG decoding through libjpeg, for the About picture.
#include <QImage>
#include <cstddef>

// The decoded picture as 24-bit RGB; a null image when the data is not a JPEG libjpeg can
// read (nothing is thrown, and a damaged file never crashes the window).
QImage DecodeJpeg(const unsigned char* data, std::size_t size);
