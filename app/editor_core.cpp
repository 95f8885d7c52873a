// The editor integration's rules, free of the platform.
#include "app/editor_core.h"

#include "browse/paths.h"

#include <cstdlib>

float EditorNumber(const std::string& text) { return static_cast<float>(std::atof(text.c_str())); }

bool EditorVersionAccepted(float version, float build, const std::string& requiredVersion,
                           const std::string& requiredBuild) {
    return version >= EditorNumber(requiredVersion) && build >= EditorNumber(requiredBuild);
}

uint32_t EditorFunctionCount(int32_t reported) {
    if (reported < 0) return 0;
    if (reported > static_cast<int32_t>(kEditorMaxFunctions)) return kEditorMaxFunctions;
    return static_cast<uint32_t>(reported);
}

std::string EditorTooltip(uint32_t index, const std::string& name) {
    static const char keys[kEditorAcceleratedFunctions] = {'T', 'R', 'F', 'E', 'N', 'S', 'C'};
    if (index >= kEditorAcceleratedFunctions) return name;
    return name + " (Ctrl+" + keys[index] + ")";
}

bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("\\/:") == std::string::npos;
}

namespace {

// The current entry becomes path when it is the current path; a current
// path outside the list leaves the entries alone.
void ReplaceShown(FolderList& list, const std::string& path) {
    const VSListSnapshot now = list.Snapshot();
    const bool listed = now.index >= 0 && static_cast<size_t>(now.index) < now.entries.size() &&
                        now.entries[static_cast<size_t>(now.index)] == now.path;
    if (listed || now.entries.empty()) {
        list.ReplaceCurrent(path);
    } else {
        list.SetCurrent(-1, path);
    }
}

}  // namespace

bool ApplyEditorResult(FolderList& list, uint32_t index, int32_t status, int16_t newFile, int32_t kind,
                       const std::string& result, VSEditorOutcome* outcome) {
    if (status != 1) return false;
    std::string changed = result;
    if (index == kEditorRenameIndex) {
        // Only a name in the picture's own folder: the editor renamed there.
        const std::string current = list.CurrentPath();
        if (current.empty() || !IsPlainFileName(result)) return false;
        changed = Folder(current) + result;
        ReplaceShown(list, changed);
    } else if (kind == 1) {
        if (result.empty()) return false;
        if (newFile == 0) {
            ReplaceShown(list, result);
        } else {
            // A file already listed is made current, not listed twice.
            if (list.IndexOf(result, true) < 0) list.Append(result);
            const int32_t at = list.IndexOf(result, true);
            list.SetCurrent(at, list.At(at));
        }
    }
    outcome->currentPath = list.CurrentPath();
    outcome->changedPath = changed;
    outcome->changedParam =
        (static_cast<uint32_t>(static_cast<uint16_t>(newFile)) << 16) | (index & 0xFFFFu);
    return true;
}
