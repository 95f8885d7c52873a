// A registry-like tree of keys and typed values under one root, as the
// settings, the associations and the settings migration see it: the
// Windows registry in the shell, memory in tests. Key paths are "\"-separated; names of keys
// and values compare without regard to ASCII case, as the registry's do.
#ifndef VS_APP_REGTREE_H
#define VS_APP_REGTREE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Registry value types used here (those of the registry).
enum : uint32_t { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

enum class VSEnumStatus { kOk, kNoMore, kError };

class VSRegTree {
public:
    virtual ~VSRegTree();
    // Whether the key opens for reading.
    virtual bool KeyExists(const std::string& key) = 0;
    virtual bool CreateKey(const std::string& key) = 0;
    // An empty name is the key's default value. A text is cut at its first
    // zero byte and at maxBytes - 1 characters.
    virtual bool ReadText(const std::string& key, const std::string& name, std::string* text,
                          uint32_t maxBytes = 260) = 0;
    virtual bool ReadNumber(const std::string& key, const std::string& name, uint32_t* value) = 0;
    // Writes create the key when it is missing.
    virtual bool WriteText(const std::string& key, const std::string& name, const std::string& text) = 0;
    virtual bool WriteNumber(const std::string& key, const std::string& name, uint32_t value) = 0;
    virtual bool DeleteValue(const std::string& key, const std::string& name) = 0;
    // Values and subkeys by index, in the store's order.
    virtual VSEnumStatus ValueName(const std::string& key, uint32_t index, std::string* name) = 0;
    virtual VSEnumStatus SubkeyName(const std::string& key, uint32_t index, std::string* name) = 0;
    // False when the value is missing or larger than maxBytes.
    virtual bool ReadValue(const std::string& key, const std::string& name, uint32_t maxBytes, uint32_t* type,
                           std::vector<uint8_t>* data) = 0;
    // Into an existing key only.
    virtual bool WriteValue(const std::string& key, const std::string& name, uint32_t type,
                            const std::vector<uint8_t>& data) = 0;
};

// The tree in memory, for tests and for platforms without a registry.
class VSMemoryRegTree : public VSRegTree {
public:
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

    // Every value of every key as "key|name=type:data" lines, for comparing trees.
    std::string Dump() const;
    // Every change fails and changes nothing while set.
    bool readOnly = false;
    // Index enumeration of values fails (not "no more") at this index.
    int32_t failValueIndex = -1;

private:
    struct Value {
        std::string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };
    struct Key {
        std::string path;  // as first created
        std::vector<Value> values;
    };
    Key* Find(const std::string& key);
    Key* Make(const std::string& key);
    Value* FindValue(Key* k, const std::string& name);
    std::map<std::string, Key> keys_;  // by lower-case path
};

#endif
