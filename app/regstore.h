// The settings store of the shell: values of keys under HKEY_CURRENT_USER.
#ifndef VS_APP_REGSTORE_H
#define VS_APP_REGSTORE_H

#include "settings_core.h"

class VSRegistryKeyStore : public VSKeyStore {
public:
    bool ReadNumber(const std::string& key, const std::string& name, uint32_t* value) override;
    bool ReadText(const std::string& key, const std::string& name, std::string* value) override;
    bool WriteNumber(const std::string& key, const std::string& name, uint32_t value) override;
    bool WriteText(const std::string& key, const std::string& name, const std::string& value) override;
};

#endif
