// The decisions behind the open dialog and dropped files.
#include "browse/opening.h"

#include "browse/paths.h"

const char kOpenDialogTitle[] = "Select image(s)";

namespace {

// "*.a;*.b" for the extensions.
std::string Patterns(const std::vector<std::string>& extensions) {
    std::string out;
    for (const std::string& e : extensions) out += (out.empty() ? "*" : ";*") + e;
    return out;
}

}  // namespace

std::string OpenDialogFilterPairs() {
    // Every extension the folder list accepts, so no picture it would show
    // is hidden from the dialog.
    std::string pairs = "All supported formats ";
    pairs += '\0';
    pairs += Patterns(SupportedExtensions());
    pairs += '\0';
    for (const VSPictureFormat& f : PictureFormats()) {
        const std::string patterns = Patterns(f.extensions);
        pairs += std::string(f.name) + " (" + patterns + ")";
        pairs += '\0';
        pairs += patterns;
        pairs += '\0';
    }
    pairs += '\0';
    return pairs;
}

namespace {

const size_t kMaxDroppedPath = 259;

bool IsFolderName(const std::string& path) {
    return path.empty() || FileName(path).find('.') == std::string::npos;
}

}  // namespace

VSOpenPlan PlanDrop(const std::vector<std::string>& paths, bool oleDrop) {
    VSOpenPlan plan;
    if (paths.size() > 1) {
        for (const std::string& p : paths)
            if (IsSupportedPicture(p)) plan.paths.push_back(p);
        if (!plan.paths.empty()) {
            plan.kind = VSOpenPlan::kFiles;
        } else if (!oleDrop) {
            plan.kind = VSOpenPlan::kKeepFirst;
        }
        return plan;
    }
    // An OLE drop without any path has nothing to open.
    if (paths.empty()) return plan;
    std::string path = paths[0].substr(0, kMaxDroppedPath);
    if (IsFolderName(path)) {
        if (path.empty() || path.back() != '\\') path += '\\';
        plan.kind = VSOpenPlan::kFolder;
    } else if (IsSupportedPicture(path)) {
        plan.kind = VSOpenPlan::kFile;
    } else {
        plan.kind = VSOpenPlan::kUnsupported;
    }
    plan.path = path;
    return plan;
}

VSDialogSelection ParseOpenSelection(const char* buffer, size_t size) {
    VSDialogSelection selection;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < size && buffer[at]) {
        size_t end = at;
        while (end < size && buffer[end]) ++end;
        parts.emplace_back(buffer + at, end - at);
        at = end + 1;
    }
    if (parts.empty()) return selection;
    if (parts.size() == 1) {
        selection.paths.push_back(parts[0]);
        selection.initDir = Folder(parts[0]);
        return selection;
    }
    // A multiple selection: the folder (without a closing "\", except a
    // drive's root) and then the names.
    std::string folder = parts[0];
    const std::string prefix = !folder.empty() && folder.back() == '\\' ? folder : folder + '\\';
    for (size_t i = 1; i < parts.size(); ++i) selection.paths.push_back(prefix + parts[i]);
    selection.initDir = folder.back() == '\\' ? folder : Folder(folder);
    return selection;
}
