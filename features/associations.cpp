#include "features/associations.h"

#include "app/settings_core.h"

const char kClassesKey[] = "Software\\Classes\\";
const char kFileExtsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

const std::vector<VSPictureType>& PictureTypes() {
    static const std::vector<VSPictureType> types = {
        {" JPEG (.jpeg, .jpg , .jfif, .jpe )", 0x01, {".jpg", ".jpeg", ".jpe", ".jfif", ".jif"}},
        {" BMP (.bmp)", 0x02, {".bmp"}},
        {" PCX (.pcx)", 0x08, {".pcx"}},
        {" TIFF (.tiff)", 0x10, {".tiff"}},
        {" PNG (.png)", 0x20, {".png"}},
        {" TGA  (.tga)", 0x40, {".tga"}},
    };
    return types;
}

std::string ProgIdFor(const std::string& extension) { return "VSViewer" + extension; }

VSAssociationState LoadAssociationState(VSRegTree& tree) {
    VSAssociationState state;
    uint32_t value;
    if (tree.ReadNumber(kSettingsKey, kValueExtension, &value)) state.extensions = value;
    if (tree.ReadNumber(kSettingsKey, kValueAutoRotate, &value)) state.autoRotate = value;
    if (state.extensions == 0) return state;
    for (const auto& type : PictureTypes()) {
        const std::string& ext = type.extensions.front();
        std::string owner;
        if (!tree.KeyExists(kClassesKey + ext)) continue;
        if (!tree.ReadText(kClassesKey + ext, "", &owner)) continue;
        if (!owner.empty() && owner != ProgIdFor(ext)) state.extensions &= ~type.bit;
    }
    return state;
}

void Associate(VSRegTree& tree, const std::string& extension, const std::string& programPath) {
    const std::string progId = ProgIdFor(extension);
    const std::string classKey = kClassesKey + progId;
    // Each step on its own: one key that cannot be written skips only itself.
    tree.WriteText(classKey + "\\shell\\open\\command", "", "\"" + programPath + "\" \"%1\"");
    tree.WriteText(classKey + "\\DefaultIcon", "", programPath + ",0");
    tree.WriteText(kClassesKey + extension, "", progId);
    tree.WriteText(kFileExtsKey + extension, "Progid", progId);
}

void Disassociate(VSRegTree& tree, const std::string& extension) {
    const std::string key = kClassesKey + extension;
    if (!tree.KeyExists(key)) return;
    std::string owner;
    if (!tree.ReadText(key, "", &owner) || owner != ProgIdFor(extension)) return;
    tree.WriteText(key, "", "");
    const std::string exts = kFileExtsKey + extension;
    tree.CreateKey(exts);
    tree.DeleteValue(exts, "ProgID");
}

void ApplyAssociationState(VSRegTree& tree, const VSAssociationState& state, const std::string& programPath) {
    for (const auto& type : PictureTypes()) {
        for (const auto& ext : type.extensions) {
            if (state.extensions & type.bit) Associate(tree, ext, programPath);
            else Disassociate(tree, ext);
        }
    }
    tree.WriteNumber(kSettingsKey, kValueExtension, state.extensions);
    tree.WriteNumber(kSettingsKey, kValueAutoRotate, state.autoRotate);
}

bool TypeChecked(const VSAssociationState& state, int32_t position) {
    const auto& types = PictureTypes();
    if (position < 0 || static_cast<size_t>(position) >= types.size()) return false;
    return (state.extensions & types[static_cast<size_t>(position)].bit) != 0;
}

bool ToggleType(VSAssociationState* state, int32_t position) {
    const auto& types = PictureTypes();
    if (position < 0 || static_cast<size_t>(position) >= types.size()) return false;
    state->extensions ^= types[static_cast<size_t>(position)].bit;
    return TypeChecked(*state, position);
}
