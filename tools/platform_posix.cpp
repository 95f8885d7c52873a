#include "tools/platform.h"

#include <cstdio>

void VSUnixLineEnds() {}

bool VSReplaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }
