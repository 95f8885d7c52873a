#include "textmode.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void VSUnixLineEnds() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
