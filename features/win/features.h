// The auxiliary features of the viewer as commands of the main window:
// Save As, open with another program, the settings dialog, the update
// check, settings migration, the About dialog and the web pages.
#ifndef VS_FEATURES_FEATURES_H
#define VS_FEATURES_FEATURES_H

#include <windows.h>

#include <string>

// Save As of the current picture (key S, toolbar button); the dialog starts
// in *saveAsDir, which becomes the folder chosen.
void SaveAsCommand(HWND mainWindow, const std::string& current, std::string* saveAsDir);
// Hands the current picture to a program the user picks (key E).
void OpenWithCommand(HWND mainWindow, const std::string& file);
// The settings dialog; sends UM_RERENDER when "AutoRotate" changed.
void SettingsCommand(HWND mainWindow);
// The update check (menu item, toolbar button).
void UpdateCheckCommand(HWND mainWindow);
// The installed editor's version and build; both 0 without the editor.
void ReadEditorVersion(float* version, float* build);
// The editor update dialog (the editor is missing or too old).
void ShowEditorUpdateDialog(HWND owner);
// Start-up: copies an older version's settings once.
void MigrateSettings();
// The About dialog, owned by the main window: one at a time, and closed
// with it.
void ShowAbout(HWND owner);
// Opens an address in the user's browser.
bool OpenUrl(const std::string& address);
// The address of a web page string resource (help, home, product pages).
std::string PageAddress(UINT stringId);

#endif
