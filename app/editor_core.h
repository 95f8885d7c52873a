// The platform-free rules of the editor integration: the version the
// viewer requires of the editor, the tooltips of the editor's functions and
// what one function's result does to the folder file list.
#ifndef VS_APP_EDITOR_CORE_H
#define VS_APP_EDITOR_CORE_H

#include "browse/folderlist.h"

#include <cstdint>
#include <string>

enum : uint32_t {
    // The function whose result is a new file name in the picture's folder.
    kEditorRenameIndex = 4,
    // The function after it keeps the file but changes what its item shows.
    kEditorRelabelIndex = 5,
    // More buttons would not fit a screen; the commands above run into the
    // viewer's own command numbers.
    kEditorMaxFunctions = 16,
    // Functions 0 ... 6 have accelerators.
    kEditorAcceleratedFunctions = 7
};

// The text as C's atof reads it, as a single-precision number.
float EditorNumber(const std::string& text);

// Whether the installed version and build reach the required texts
// (strings 24 and 25); both sides go through the same float conversion,
// so an editor of exactly the required version passes.
bool EditorVersionAccepted(float version, float build, const std::string& requiredVersion,
                           const std::string& requiredBuild);

// The count the editor reports, kept within 0 ... kEditorMaxFunctions.
uint32_t EditorFunctionCount(int32_t reported);

// "name (Ctrl+T)" and so on for the accelerated functions, the name alone
// for the others.
std::string EditorTooltip(uint32_t index, const std::string& name);

// Whether a name the editor gave for index 4 is a plain file name (no
// folder part, not "." or "..", not empty).
bool IsPlainFileName(const std::string& name);

// The effects of a function's result for the main window.
struct VSEditorOutcome {
    std::string currentPath;    // shown afterwards (UM_SHOW_FILE)
    std::string changedPath;    // lParam of UM_FILE_CHANGED
    uint32_t changedParam = 0;  // wParam: new-file flag high, index low
};

// Applies the result of function index to the list: status 1 only; index 4
// renames the current entry to Folder(current path) + result; otherwise,
// with kind 1, a new-file flag of 0 replaces the current entry by the result
// path and any other flag adds it (unless already listed, ignoring case)
// and makes it current. False, and the list untouched, when nothing is to
// change: a failed run, or a result that names no usable file.
bool ApplyEditorResult(FolderList& list, uint32_t index, int32_t status, int16_t newFile, int32_t kind,
                       const std::string& result, VSEditorOutcome* outcome);

#endif
