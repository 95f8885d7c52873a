#include "codec/isframe.h"

bool ISLocalTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }
bool ISUtcTime(std::time_t t, std::tm* out) { return gmtime_r(&t, out) != nullptr; }
