// The registry under one root key as a VSRegTree.
#ifndef VS_FEATURES_WINREGTREE_H
#define VS_FEATURES_WINREGTREE_H

#include <windows.h>

#include "app/regtree.h"

class VSWinRegTree : public VSRegTree {
public:
    explicit VSWinRegTree(HKEY root = HKEY_CURRENT_USER) : root_(root) {}

    bool KeyExists(const std::string& key) override;
    bool CreateKey(const std::string& key) override;
    bool ReadText(const std::string& key, const std::string& name, std::string* text,
                  uint32_t maxBytes = 260) override;
    bool ReadNumber(const std::string& key, const std::string& name, uint32_t* value) override;
    bool WriteText(const std::string& key, const std::string& name, const std::string& text) override;
    bool WriteNumber(const std::string& key, const std::string& name, uint32_t value) override;
    bool DeleteValue(const std::string& key, const std::string& name) override;
    VSEnumStatus ValueName(const std::string& key, uint32_t index, std::string* name) override;
    VSEnumStatus SubkeyName(const std::string& key, uint32_t index, std::string* name) override;
    bool ReadValue(const std::string& key, const std::string& name, uint32_t maxBytes, uint32_t* type,
                   std::vector<uint8_t>* data) override;
    bool WriteValue(const std::string& key, const std::string& name, uint32_t type,
                    const std::vector<uint8_t>& data) override;

private:
    HKEY root_;
};

#endif
