#pragma once
// Work that could hang (a FIFO opened for reading waits for a writer) runs in a child
// process with a bound, so that a hang fails its test instead of stopping the suite.
#include <functional>

// Runs work in a forked child and waits at most `seconds` for it: true when the child
// ended within the bound and work returned true. A child still running is killed.
// work must not touch Qt or other threads' state.
bool FinishesWithin(int seconds, const std::function<bool()>& work);
