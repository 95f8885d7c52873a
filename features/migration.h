// Copies the settings of an older version (1.2, else 1.0) into this
// version's key once, and marks the older key so the copy is not repeated.
#ifndef VS_FEATURES_MIGRATION_H
#define VS_FEATURES_MIGRATION_H

#include "app/regtree.h"

#include <string>

extern const char kOldRegCopied[];  // "OLD Reg Copied"

// 1.2 or 1.0, the first whose key below productKey opens; -1.0 when none.
double FindOldVersion(VSRegTree& tree, const std::string& productKey);
// productKey + "\" + the version with one decimal.
std::string VersionKey(const std::string& productKey, double version);
bool IsCopied(VSRegTree& tree, const std::string& key);
bool MarkCopied(VSRegTree& tree, const std::string& key);
// Copies values and subkeys of source into destination; false when the
// source cannot be opened.
bool Migrate(VSRegTree& tree, const std::string& source, const std::string& destination);

// The start-up step: true when a copy ran.
bool MigrateOldSettings(VSRegTree& tree);

#endif
