#pragma once
// Passwords held in strings are overwritten before the strings let go of them, so that they
// do not linger in freed memory (the stores are volatile: the compiler keeps them).
#include <string>

// Overwrites the whole buffer of `text` (its capacity, not only its size) and empties it.
void WipeString(std::string& text);
