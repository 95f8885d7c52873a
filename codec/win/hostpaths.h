// Under Winelib the codec library opens files with the host's own calls:
// this gives it a mapper from Windows paths to host paths. Elsewhere the
// library's paths are the platform's own and nothing is installed.
#ifndef VS_CODEC_WIN_HOSTPATHS_H
#define VS_CODEC_WIN_HOSTPATHS_H

void InstallHostPathMapper();

#endif
