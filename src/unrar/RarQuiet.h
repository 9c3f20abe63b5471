// libunarr prints warnings about damaged data straight to the C stderr stream and offers no way
// to turn them off; the library reports every failure through its own results instead.
#pragma once

// Points libunarr's own reference to `stderr` at a stream that discards everything. Only
// libunarr is affected: the program's stderr, and every other thread writing to it, are not.
// Idempotent and thread-safe; false when libunarr's reference could not be found (its
// warnings then still reach stderr).
bool QuietUnarrDiagnostics();
