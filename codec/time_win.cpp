#include "codec/isframe.h"

// The CRT's _s functions take their arguments the other way round and return 0 on success.
bool ISLocalTime(std::time_t t, std::tm* out) { return localtime_s(out, &t) == 0; }
bool ISUtcTime(std::time_t t, std::tm* out) { return gmtime_s(out, &t) == 0; }
