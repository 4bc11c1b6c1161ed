// The copy of the vault file made before its master password is changed.
#pragma once

#include <string>

#include "framework/LocalTime.h"

// The backup's path for the given moment: directory + "ferrocask_YYYYMMDDhhmmss.db".
std::string VaultBackupPath(const std::string& directory, const Ombrix::LocalTime& when);

// Copies directory + "ferrocask.db" to the backup path of the current local time, only if
// no file of that name exists yet (created exclusively, never overwritten), with the vault
// file's permissions, flushed to disk with its name before this returns; a crash never
// leaves a backup half made under the backup's name. True when the copy
// was made; a copy that fails part-way is removed.
// Paths of any length are formed; one the system refuses (a directory beyond its path
// limit) simply gives no backup.
bool BackupVaultFile(const std::string& directory);
