// Placeholders until each feature lands in its own file.
#include "features.h"

void SaveAsCommand(HWND, ToolbarPanel&) {}
void OpenWithCommand(HWND, ToolbarPanel&) {}
void SettingsCommand(HWND, ToolbarPanel&) {}
void UpdateCheckCommand(HWND) {}
void ReadEditorVersion(float* version, float* build) { *version = *build = 0; }
void ShowEditorUpdateDialog(HWND) {}
void MigrateSettings() {}
void ShowAbout() {}
bool OpenUrl(const std::string&) { return false; }
std::string PageAddress(UINT) { return {}; }
