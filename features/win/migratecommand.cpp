// Start-up: the settings of an older version, copied once.
#include "features/win/features.h"
#include "features/win/winregtree.h"

#include "features/migration.h"

void MigrateSettings() {
    VSWinRegTree tree(HKEY_CURRENT_USER);
    MigrateOldSettings(tree);
}
