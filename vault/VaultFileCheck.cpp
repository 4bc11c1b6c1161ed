#include "vault/VaultFileCheck.h"

#include <sys/stat.h>

#include <cerrno>

#include <db_cxx.h>

#include "framework/DurableFile.h"
#include "framework/Log.h"
#include "vault/VaultBackup.h"
#include "vault/VaultStore.h"
#include "vault/VaultUpdate.h"

VaultFileKind InspectVaultFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? VaultFileKind::kMissing : VaultFileKind::kUnreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        return VaultFileKind::kUnreadable;
    }
    // A handle of its own, read-only: a file that cannot be opened must not be changed, and
    // the device would keep a handle opened in this mode for the rest of the run. Messages of
    // the library stay off the standard error stream: the result says everything needed.
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    const int result = db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0);
    db.close(0);
    if (result == 0) {
        return VaultFileKind::kDatabase;
    }
    return result == DB_OLD_VERSION ? VaultFileKind::kOldVersion : VaultFileKind::kUnreadable;
}

bool UpgradeVaultFile(const std::string& directory) {
    const std::string vault = VaultFilePath(directory);
    const std::string copy = VaultUpdate::CopyPath(directory);
    if (!BackupVaultFile(directory) || !Ombrix::RemoveFile(copy) ||
        !Ombrix::CopyToNewFile(vault, copy)) {
        Ombrix::Log::Instance().Error("UpgradeVaultFile backup or copy error!");
        return false;
    }
    int result = 0;
    {
        Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
        result = db.upgrade(copy.c_str(), 0);
        db.close(0);
    }
    bool renamed = false;
    if (result != 0 || InspectVaultFile(copy) != VaultFileKind::kDatabase ||
        !Ombrix::SyncFile(copy) || !Ombrix::RenameDurably(copy, vault, &renamed)) {
        if (renamed) {
            // The upgraded file stands under the vault's name and is what the program now
            // reads; only the flush of the name did not succeed.
            Ombrix::Log::Instance().Error("UpgradeVaultFile folder sync error!");
            return true;
        }
        Ombrix::RemoveFile(copy);
        Ombrix::Log::Instance().Error("UpgradeVaultFile upgrade error!");
        return false;
    }
    return true;
}
