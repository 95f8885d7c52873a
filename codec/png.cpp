#include "isframe.h"
#include "isio.h"
