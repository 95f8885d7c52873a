#include "features/migration.h"

#include "browse/paths.h"
#include "app/settings_core.h"

#include <cstdio>

const char kOldRegCopied[] = "OLD Reg Copied";

namespace {

// Registry limits of the copy.
constexpr uint32_t kMaxValueData = 512;
constexpr uint32_t kMaxName = 256;
// The registry nests at most 512 levels; a deeper store is broken.
constexpr int kMaxDepth = 512;

void CopyValues(VSRegTree& tree, const std::string& source, const std::string& destination) {
    if (!tree.CreateKey(destination)) return;
    for (uint32_t index = 0;; ++index) {
        std::string name;
        const VSEnumStatus status = tree.ValueName(source, index, &name);
        if (status == VSEnumStatus::kNoMore) return;
        if (status == VSEnumStatus::kError || name.size() > kMaxName) continue;
        uint32_t type = 0;
        std::vector<uint8_t> data;
        if (!tree.ReadValue(source, name, kMaxValueData, &type, &data)) return;
        tree.WriteValue(destination, name, type, data);
    }
}

bool CopyKey(VSRegTree& tree, const std::string& sourceBase, const std::string& destinationBase,
             const std::string& relative, int depth) {
    const std::string source = relative.empty() ? sourceBase : sourceBase + "\\" + relative;
    const std::string destination = relative.empty() ? destinationBase : destinationBase + "\\" + relative;
    if (!tree.KeyExists(source)) return false;
    CopyValues(tree, source, destination);
    if (depth >= kMaxDepth) return true;
    for (uint32_t index = 0;; ++index) {
        std::string name;
        const VSEnumStatus status = tree.SubkeyName(source, index, &name);
        if (status == VSEnumStatus::kNoMore) break;
        if (status == VSEnumStatus::kError || name.size() > kMaxName) continue;
        CopyKey(tree, sourceBase, destinationBase, relative.empty() ? name : relative + "\\" + name, depth + 1);
    }
    return true;
}

}  // namespace

std::string VersionKey(const std::string& productKey, double version) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", version);
    return productKey + "\\" + text;
}

double FindOldVersion(VSRegTree& tree, const std::string& productKey) {
    for (double version : {1.2, 1.0})
        if (tree.KeyExists(VersionKey(productKey, version))) return version;
    return -1.0;
}

bool IsCopied(VSRegTree& tree, const std::string& key) {
    uint32_t value = 0;
    return tree.KeyExists(key) && tree.ReadNumber(key, kOldRegCopied, &value) && value == 1;
}

bool MarkCopied(VSRegTree& tree, const std::string& key) {
    return tree.KeyExists(key) && tree.WriteNumber(key, kOldRegCopied, 1);
}

bool Migrate(VSRegTree& tree, const std::string& source, const std::string& destination) {
    // A destination inside the source would copy itself for ever.
    const std::string inner = AsciiLower(source) + "\\";
    if (AsciiLower(destination).compare(0, inner.size(), inner) == 0) return false;
    return CopyKey(tree, source, destination, "", 0);
}

bool MigrateOldSettings(VSRegTree& tree) {
    const double version = FindOldVersion(tree, kVendorKey);
    if (version < 0) return false;
    const std::string source = VersionKey(kVendorKey, version);
    if (IsCopied(tree, source)) return false;
    Migrate(tree, source, kSettingsKey);
    MarkCopied(tree, source);
    return true;
}
