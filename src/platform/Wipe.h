#pragma once
// Passwords held in strings are overwritten before the strings let go of them, so that they
// do not linger in freed memory (the stores are volatile: the compiler keeps them).
#include <cstddef>
#include <string>

// Overwrites `size` bytes at `data`.
void WipeBytes(void* data, std::size_t size);
// Overwrites the whole buffer of `text` (its capacity, not only its size) and empties it.
void WipeString(std::string& text);
