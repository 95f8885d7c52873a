#include "app/regtree.h"

#include "browse/paths.h"

#include <cstring>

VSRegTree::~VSRegTree() = default;

namespace {

std::string Normal(const std::string& key) {
    std::string k = AsciiLower(key);
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return k;
}

}  // namespace

VSMemoryRegTree::Key* VSMemoryRegTree::Find(const std::string& key) {
    auto it = keys_.find(Normal(key));
    return it == keys_.end() ? nullptr : &it->second;
}

VSMemoryRegTree::Key* VSMemoryRegTree::Make(const std::string& key) {
    if (readOnly || Normal(key).empty()) return nullptr;
    // Every ancestor exists as a key of its own, as in the registry.
    std::string path = key;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
        const std::string parent = path.substr(0, pos);
        if (!Find(parent)) keys_[Normal(parent)] = Key{parent, {}};
    }
    Key* k = Find(path);
    if (!k) k = &(keys_[Normal(path)] = Key{path, {}});
    return k;
}

VSMemoryRegTree::Value* VSMemoryRegTree::FindValue(Key* k, const std::string& name) {
    if (!k) return nullptr;
    for (auto& v : k->values)
        if (CompareNoCase(v.name, name) == 0) return &v;
    return nullptr;
}

bool VSMemoryRegTree::KeyExists(const std::string& key) { return Find(key) != nullptr; }

bool VSMemoryRegTree::CreateKey(const std::string& key) { return Make(key) != nullptr; }

bool VSMemoryRegTree::ReadText(const std::string& key, const std::string& name, std::string* text,
                               uint32_t maxBytes) {
    Value* v = FindValue(Find(key), name);
    if (!v || v->type != kRegSz || v->data.size() > maxBytes) return false;
    std::string t(v->data.begin(), v->data.end());
    t = t.substr(0, std::strlen(t.c_str()));
    if (maxBytes && t.size() > maxBytes - 1) t.resize(maxBytes - 1);
    *text = t;
    return true;
}

bool VSMemoryRegTree::ReadNumber(const std::string& key, const std::string& name, uint32_t* value) {
    Value* v = FindValue(Find(key), name);
    if (!v || v->type != kRegDword || v->data.size() != 4) return false;
    std::memcpy(value, v->data.data(), 4);
    return true;
}

bool VSMemoryRegTree::WriteText(const std::string& key, const std::string& name, const std::string& text) {
    Key* k = Make(key);
    if (!k) return false;
    return WriteValue(key, name, kRegSz, std::vector<uint8_t>(text.begin(), text.end()));
}

bool VSMemoryRegTree::WriteNumber(const std::string& key, const std::string& name, uint32_t value) {
    if (!Make(key)) return false;
    std::vector<uint8_t> data(4);
    std::memcpy(data.data(), &value, 4);
    return WriteValue(key, name, kRegDword, data);
}

bool VSMemoryRegTree::DeleteValue(const std::string& key, const std::string& name) {
    Key* k = Find(key);
    if (!k || readOnly) return false;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
        if (CompareNoCase(it->name, name) == 0) {
            k->values.erase(it);
            return true;
        }
    }
    return false;
}

VSEnumStatus VSMemoryRegTree::ValueName(const std::string& key, uint32_t index, std::string* name) {
    Key* k = Find(key);
    if (!k) return VSEnumStatus::kError;
    if (index >= k->values.size()) return VSEnumStatus::kNoMore;
    if (static_cast<int32_t>(index) == failValueIndex) return VSEnumStatus::kError;
    *name = k->values[index].name;
    return VSEnumStatus::kOk;
}

VSEnumStatus VSMemoryRegTree::SubkeyName(const std::string& key, uint32_t index, std::string* name) {
    if (!Find(key)) return VSEnumStatus::kError;
    const std::string prefix = Normal(key) + "\\";
    uint32_t i = 0;
    for (const auto& entry : keys_) {
        if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
        if (entry.first.find('\\', prefix.size()) != std::string::npos) continue;
        if (i++ == index) {
            *name = entry.second.path.substr(entry.second.path.rfind('\\') + 1);
            return VSEnumStatus::kOk;
        }
    }
    return VSEnumStatus::kNoMore;
}

bool VSMemoryRegTree::ReadValue(const std::string& key, const std::string& name, uint32_t maxBytes,
                                uint32_t* type, std::vector<uint8_t>* data) {
    Value* v = FindValue(Find(key), name);
    if (!v || v->data.size() > maxBytes) return false;
    *type = v->type;
    *data = v->data;
    return true;
}

bool VSMemoryRegTree::WriteValue(const std::string& key, const std::string& name, uint32_t type,
                                 const std::vector<uint8_t>& data) {
    Key* k = Find(key);
    if (!k || readOnly) return false;
    if (Value* v = FindValue(k, name)) {
        v->type = type;
        v->data = data;
    } else {
        k->values.push_back(Value{name, type, data});
    }
    return true;
}

std::string VSMemoryRegTree::Dump() const {
    std::string out;
    for (const auto& entry : keys_) {
        for (const auto& v : entry.second.values) {
            out += entry.second.path + "|" + v.name + "=" + std::to_string(v.type) + ":";
            if (v.type == kRegDword && v.data.size() == 4) {
                uint32_t n;
                std::memcpy(&n, v.data.data(), 4);
                out += std::to_string(n);
            } else {
                out += std::string(v.data.begin(), v.data.end());
            }
            out += "\n";
        }
    }
    return out;
}
