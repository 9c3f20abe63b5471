#pragma once
// Files of resources/app compiled into the program (see resources/app/Resources.cmake).
#include <cstddef>

// The About picture: a 177 x 92 baseline JPEG with three colour components.
extern const unsigned char AboutPictureJpeg[];
extern const std::size_t AboutPictureJpegSize;

// The Help page's guide, UTF-8 with LF line ends, zero-terminated.
extern const char HelpTextUtf8[];
