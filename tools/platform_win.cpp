#include "tools/platform.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

void VSUnixLineEnds() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

// The CRT's rename refuses an existing target.
bool VSReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
