// Per-user settings in the registry.
#include "regstore.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

class Key {
public:
    Key(const std::string& path, bool create) {
        LONG r;
        if (create) {
            r = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                nullptr);
        } else {
            r = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key_);
        }
        if (r != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool VSRegistryKeyStore::ReadNumber(const std::string& key, const std::string& name, uint32_t* value) {
    Key k(key, false);
    if (!k.get()) return false;
    DWORD type = 0, number = 0, size = sizeof number;
    if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof number)
        return false;
    *value = number;
    return true;
}

bool VSRegistryKeyStore::ReadText(const std::string& key, const std::string& name, std::string* value) {
    Key k(key, false);
    if (!k.get()) return false;
    DWORD type = 0;
    std::vector<char> buffer(kMaxSettingText + 1, '\0');
    DWORD size = kMaxSettingText + 1;
    LONG r = RegQueryValueExA(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                              &size);
    if (r == ERROR_MORE_DATA && size < 0x100000) {
        // Written by someone else and too long: take its first 259 bytes.
        buffer.assign(size + 1, '\0');
        r = RegQueryValueExA(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &size);
    }
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // The stored bytes need not end with a zero.
    std::string text(buffer.data(), std::min<size_t>(size, buffer.size()));
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    if (text.size() > kMaxSettingText) text.resize(kMaxSettingText);
    *value = text;
    return true;
}

bool VSRegistryKeyStore::WriteNumber(const std::string& key, const std::string& name, uint32_t value) {
    Key k(key, true);
    if (!k.get()) return false;
    const DWORD number = value;
    return RegSetValueExA(k.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number) == ERROR_SUCCESS;
}

bool VSRegistryKeyStore::WriteText(const std::string& key, const std::string& name, const std::string& value) {
    Key k(key, true);
    if (!k.get()) return false;
    // Stored without the terminating zero, as the viewer always has.
    return RegSetValueExA(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                          static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}
