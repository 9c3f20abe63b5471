#pragma once
// Questions on the terminal that must not show their answer (a password).
#include <optional>
#include <string>

// Standard input is a terminal (a person may answer there).
bool StdinIsTerminal();

// Writes `prompt` to standard error and reads one line from standard input, with the
// terminal's echo off while it is typed. Nothing at the end of input, or when the read is
// interrupted (Ctrl-C and the like): the terminal is put back first, then the signal goes on
// to the program's own handler or default action.
std::optional<std::string> ReadSecretLine(const std::string& prompt);
