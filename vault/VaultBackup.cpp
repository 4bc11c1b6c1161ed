#include "vault/VaultBackup.h"

#include <cstdio>

#include "framework/DurableFile.h"

#include "vault/VaultStore.h"

std::string VaultBackupPath(const std::string& directory, const Ombrix::LocalTime& when) {
    // Only the fixed-width part goes through a buffer; the directory is joined as a string,
    // so that no length of it can overrun anything or be cut.
    char name[64];
    std::snprintf(name, sizeof name, "ferrocask_%04d%02d%02d%02d%02d%02d.db", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);
    return directory + name;
}

bool BackupVaultFile(const std::string& directory) {
    const Ombrix::LocalTime now = Ombrix::CurrentLocalTime();
    // The backup is never seen half made, and its name is on disk before this returns: a
    // backup whose name could vanish in a power cut right after the change began would be
    // no backup.
    return Ombrix::PublishCopy(VaultFilePath(directory), VaultBackupPath(directory, now));
}
