#include "textmode.h"

void VSUnixLineEnds() {}
