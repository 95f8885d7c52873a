// What the open dialog and dropped files open: the decisions on the paths
// that arrive, apart from the dialogs and drop mechanisms that bring them.
#ifndef VS_BROWSE_OPENING_H
#define VS_BROWSE_OPENING_H

#include <cstddef>
#include <string>
#include <vector>

// The open dialog's title.
extern const char kOpenDialogTitle[];
// The open dialog's filter in the dialog's own form: pairs of zero-ended
// texts, then a zero. All supported formats first, then one per format.
std::string OpenDialogFilterPairs();

struct VSOpenPlan {
    enum Kind {
        kNothing,      // nothing changes
        kFiles,        // a list of exactly `paths`, the first current
        kFolder,       // the folder `path` (ending in "\") as a list
        kFile,         // the folder of the picture `path`, that one current
        kUnsupported,  // the list is emptied, nothing new is shown
        kKeepFirst     // the list stays; its first entry becomes current
    };
    Kind kind = kNothing;
    std::vector<std::string> paths;
    std::string path;
};

// Several dropped paths: those with a supported extension, in dropped
// order; with none, the OLE drop opens nothing, WM_DROPFILES shows the
// first entry of the list it keeps.
// One path: a name without "." (or an empty path) is a folder, else a file
// when its extension is supported, else unsupported. Only the last part of
// the path counts: a dot in a parent folder's name does not make a folder a
// file. Paths longer than 259 characters are cut there, as the drop buffer
// holds no more.
VSOpenPlan PlanDrop(const std::vector<std::string>& paths, bool oleDrop);

// The open dialog's result buffer (explorer style): one full path, or a
// folder followed by file names, each zero-ended, then one more zero.
struct VSDialogSelection {
    std::vector<std::string> paths;  // full paths in the dialog's order
    std::string initDir;             // where the next dialog starts
};
VSDialogSelection ParseOpenSelection(const char* buffer, size_t size);

#endif
