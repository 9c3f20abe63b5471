#pragma once
#include <functional>

// Lets pending window messages run in the middle of long work, so that repaints and
// "&Halt" get through on the one GUI thread. Engines call it between blocks; a face
// without a window passes an empty function. It may run any handler of the window,
// including one that sets the halt flag the engine polls next.
using TPumpMessages = std::function<void()>;
