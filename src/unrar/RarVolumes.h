// Names of the next volume of a set.
#pragma once
#include <string>

// newNaming: the main header's flag for `name.partN.rar` sets; the digit count of the first
// volume is kept (part01 -> part02). Old naming: .rar -> .r00 .. .r99 -> .s00, and a numeric
// extension counts up (.001 -> .002).
std::string NextVolumeName(const std::string& current, bool newNaming);
