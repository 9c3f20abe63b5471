#pragma once
#include <string>

#include "archive/aknTypes.h"

// The archive family's messages. Errors travel as numbers; whoever shows one asks
// for its text here. Any thread may call these.

// The text of a message number; a number the table lacks gives an empty text.
std::string MessageText(int number);

// How many numbered texts the table holds.
int MessageCount();
