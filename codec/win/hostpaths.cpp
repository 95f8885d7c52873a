// The Windows-to-host path mapper of the codec library under Winelib.
#include "codec/win/hostpaths.h"

#include <windows.h>

#include "codec/IS40.h"

#include <cstring>

#ifdef __WINE__
namespace {

IS_BOOL MapToHost(const char* path, char* out, uint32_t outSize) {
    WCHAR wide[MAX_PATH * 2];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH * 2)) return 0;
    char* unixPath = wine_get_unix_file_name(wide);
    if (!unixPath) return 0;
    const size_t n = std::strlen(unixPath);
    const bool fits = n < outSize;
    if (fits) std::memcpy(out, unixPath, n + 1);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return fits ? 1 : 0;
}

}  // namespace

void InstallHostPathMapper() { IS40_SetPathMapper(MapToHost); }
#else
void InstallHostPathMapper() {}
#endif
