#pragma once

#include <cstdint>

// Serves request frames from standard input until a zero length or the end
// of input, answering each on the message output handle. One bad message
// (invalid UTF-8, an oversized frame, memory exhaustion) is dropped without
// an answer and never ends the loop. Returns the process exit code, 0.
int runMessageLoop();
