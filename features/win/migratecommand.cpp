// Start-up: the settings of an older version, copied once.
#include "features.h"
#include "winregtree.h"

#include "migration.h"

void MigrateSettings() {
    VSWinRegTree tree(HKEY_CURRENT_USER);
    MigrateOldSettings(tree);
}
