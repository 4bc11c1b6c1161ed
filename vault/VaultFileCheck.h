// What kind of file stands under the vault's name, found with a read-only handle of its own
// when the database device could not open it, and the upgrade of a file written by an older
// Berkeley DB release.
#pragma once

#include <string>

enum class VaultFileKind {
    kMissing,     // no file of that name
    kDatabase,    // a database this library reads as it is
    kOldVersion,  // a database of an older on-disk version, which must be upgraded first
    kUnreadable,  // anything else: not a database, damaged, unknown version, no permission
};

VaultFileKind InspectVaultFile(const std::string& path);

// Brings an older vault file of directory up to the library's on-disk version. The original
// is first kept as a backup beside it (the backup name of a master-password change), flushed
// with its name; nothing is upgraded without it. The upgrade is made on a copy that then
// replaces the vault file, as every change of the vault is. True when the vault file now
// has the current version.
bool UpgradeVaultFile(const std::string& directory);
