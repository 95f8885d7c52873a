// Each call opens its key and closes it again: the callers follow the
// registry steps one at a time, and a failure only skips its own step.
#include "features/win/winregtree.h"

#include <cstring>

namespace {

class Key {
public:
    Key(HKEY root, const std::string& path, REGSAM access, bool create) {
        LONG r;
        if (create)
            r = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr);
        else
            r = RegOpenKeyExA(root, path.c_str(), 0, access, &key_);
        if (r != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

const char* NameOrDefault(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

}  // namespace

bool VSWinRegTree::KeyExists(const std::string& key) { return static_cast<bool>(Key(root_, key, KEY_READ, false)); }

bool VSWinRegTree::CreateKey(const std::string& key) {
    return static_cast<bool>(Key(root_, key, KEY_ALL_ACCESS, true));
}

bool VSWinRegTree::ReadText(const std::string& key, const std::string& name, std::string* text,
                            uint32_t maxBytes) {
    Key k(root_, key, KEY_READ, false);
    if (!k || maxBytes == 0) return false;
    std::vector<char> buffer(maxBytes + 1, '\0');
    DWORD type = 0, size = maxBytes;
    if (RegQueryValueExA(k.get(), NameOrDefault(name), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    buffer[maxBytes - 1] = '\0';
    text->assign(buffer.data(), std::strlen(buffer.data()));
    return true;
}

bool VSWinRegTree::ReadNumber(const std::string& key, const std::string& name, uint32_t* value) {
    Key k(root_, key, KEY_READ, false);
    if (!k) return false;
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExA(k.get(), NameOrDefault(name), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    *value = data;
    return true;
}

bool VSWinRegTree::WriteText(const std::string& key, const std::string& name, const std::string& text) {
    Key k(root_, key, KEY_ALL_ACCESS, true);
    // Stored without the terminating zero, as the viewer's texts are.
    return k && RegSetValueExA(k.get(), NameOrDefault(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size())) == ERROR_SUCCESS;
}

bool VSWinRegTree::WriteNumber(const std::string& key, const std::string& name, uint32_t value) {
    Key k(root_, key, KEY_ALL_ACCESS, true);
    const DWORD data = value;
    return k && RegSetValueExA(k.get(), NameOrDefault(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                               sizeof data) == ERROR_SUCCESS;
}

bool VSWinRegTree::DeleteValue(const std::string& key, const std::string& name) {
    Key k(root_, key, KEY_ALL_ACCESS, false);
    return k && RegDeleteValueA(k.get(), NameOrDefault(name)) == ERROR_SUCCESS;
}

namespace {

// One name of a key's values or subkeys, by index.
template <typename Enumerate>
VSEnumStatus NameAt(HKEY root, const std::string& key, std::string* name, Enumerate enumerate) {
    Key k(root, key, KEY_READ, false);
    if (!k) return VSEnumStatus::kError;
    char buffer[257] = {};
    DWORD length = sizeof buffer;
    const LONG r = enumerate(k.get(), buffer, &length);
    if (r == ERROR_NO_MORE_ITEMS) return VSEnumStatus::kNoMore;
    if (r != ERROR_SUCCESS) return VSEnumStatus::kError;
    name->assign(buffer, length);
    return VSEnumStatus::kOk;
}

}  // namespace

VSEnumStatus VSWinRegTree::ValueName(const std::string& key, uint32_t index, std::string* name) {
    return NameAt(root_, key, name, [index](HKEY k, char* buffer, DWORD* length) {
        return RegEnumValueA(k, index, buffer, length, nullptr, nullptr, nullptr, nullptr);
    });
}

VSEnumStatus VSWinRegTree::SubkeyName(const std::string& key, uint32_t index, std::string* name) {
    return NameAt(root_, key, name, [index](HKEY k, char* buffer, DWORD* length) {
        return RegEnumKeyExA(k, index, buffer, length, nullptr, nullptr, nullptr, nullptr);
    });
}

bool VSWinRegTree::ReadValue(const std::string& key, const std::string& name, uint32_t maxBytes, uint32_t* type,
                             std::vector<uint8_t>* data) {
    Key k(root_, key, KEY_READ, false);
    if (!k) return false;
    std::vector<uint8_t> buffer(maxBytes ? maxBytes : 1);
    DWORD t = 0, size = maxBytes;
    if (RegQueryValueExA(k.get(), NameOrDefault(name), nullptr, &t, buffer.data(), &size) != ERROR_SUCCESS)
        return false;
    buffer.resize(size);
    *type = t;
    *data = buffer;
    return true;
}

bool VSWinRegTree::WriteValue(const std::string& key, const std::string& name, uint32_t type,
                              const std::vector<uint8_t>& data) {
    Key k(root_, key, KEY_ALL_ACCESS, false);
    return k && RegSetValueExA(k.get(), NameOrDefault(name), 0, type, data.empty() ? nullptr : data.data(),
                               static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}
