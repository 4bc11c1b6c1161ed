#include "vault/VaultUpdate.h"

#include <unistd.h>

#include "framework/DbCursor.h"
#include "framework/DbDevice.h"
#include "framework/DbFileRead.h"
#include "framework/DeviceManager.h"
#include "framework/DurableFile.h"
#include "framework/FileCache.h"
#include "framework/Log.h"
#include "vault/VaultStore.h"

namespace {

using vaultfile::kDatabaseDevice;
using vaultfile::kKeyLength;

const char kCopySuffix[] = ".new";

Ombrix::DbDevice* DatabaseDevice() {
    return dynamic_cast<Ombrix::DbDevice*>(Ombrix::DeviceManager::Instance().Get(kDatabaseDevice));
}

// Whether this process may replace the file at path: the file itself must be writable (a
// vault the user made read-only stays so) and so must its folder.
bool MayReplace(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0 &&
           ::access(Ombrix::FolderOf(path).c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string VaultUpdate::CopyPath(const std::string& directory) {
    return VaultFilePath(directory) + kCopySuffix;
}

VaultUpdate::VaultUpdate(const std::string& directory)
    : m_vaultPath(VaultFilePath(directory)), m_copyPath(CopyPath(directory)) {
    if (DatabaseDevice() == nullptr) {
        return;
    }
    {
        // The device's handle on the vault file may hold records written through it and not
        // yet flushed (the framework's own requests do not flush): the copy starts from all
        // that was written. Without a vault file (removed while the program ran), the device
        // makes an empty one, as at the start of the program, and the change copies that.
        const vaultfile::VaultCircuit vault(m_vaultPath, false);
        if (vault.IsOpen() && vault.GetDb()->sync(0) != 0) {
            return;
        }
    }
    // A copy left by a change that did not finish is of no use: only the vault file counts.
    // The copy is flushed together with the change, in Commit.
    if (!MayReplace(m_vaultPath) || !Ombrix::RemoveFile(m_copyPath) ||
        !Ombrix::CopyToNewFile(m_vaultPath, m_copyPath)) {
        return;
    }
    m_copy = std::make_unique<vaultfile::VaultCircuit>(m_copyPath, false);
    if (!m_copy->IsOpen()) {
        Discard();
        return;
    }
    m_copiedBytes = Ombrix::DbFileBytes(m_copy->GetDb());
}

VaultUpdate::~VaultUpdate() {
    if (m_copy) {
        Discard();
    }
}

void VaultUpdate::Discard() {
    m_copy.reset();
    if (Ombrix::DbDevice* device = DatabaseDevice()) {
        device->Close(m_copyPath, false);
    }
    Ombrix::RemoveFile(m_copyPath);
}

bool VaultUpdate::Put(const char* key, const Ombrix::Data<unsigned char>& value,
                      bool replaceByDelete) {
    if (!m_copy || m_failed) {
        return false;
    }
    Db* const db = m_copy->GetDb();
    int result = 0;
    {
        Ombrix::DbCursor cursor(db);
        if (!cursor.Valid()) {
            m_failed = true;
            return false;
        }
        const int found = cursor.Seek(key, kKeyLength);
        if (found != 0 && found != DB_NOTFOUND) {
            result = found;
        } else if (found == 0 && !replaceByDelete) {
            result = cursor.PutCurrent(value.m_pBuffer, static_cast<u_int32_t>(value.m_nLength));
        } else {
            if (found == 0) {
                result = cursor.DeleteCurrent();
            }
            if (result == 0) {
                result = Ombrix::DbInsertNew(db, key, kKeyLength, value.m_pBuffer,
                                             static_cast<u_int32_t>(value.m_nLength));
            }
        }
    }
    m_failed = result != 0;
    return result == 0;
}

bool VaultUpdate::Commit() {
    if (!m_copy || m_failed) {
        return false;
    }
    // Every page of the copy reaches its file, and the file the disk, before the copy
    // takes the vault's name.
    Db* const db = m_copy->GetDb();
    const bool written = db->sync(0) == 0;
    const u_int64_t fileBytes = Ombrix::DbFileBytes(db);
    const bool readPastCache = fileBytes > Ombrix::DbCacheBytes(db);
    m_copy.reset();
    Ombrix::DbDevice* device = DatabaseDevice();
    if (!written || device == nullptr || device->Close(m_copyPath, true) != 0 ||
        !Ombrix::SyncFile(m_copyPath)) {
        Discard();
        return false;
    }
    // The pages the database added beyond the copied file were written one at a time and
    // stay cached in pieces that small. A file bigger than the database's cache is read
    // through those cached pages at every read of the list, so once they are on disk they
    // are dropped, and the next read brings them back from the disk in the larger pieces of
    // the kernel's read-ahead; a smaller file is read from them only once, into the
    // database's cache.
    if (readPastCache && fileBytes > m_copiedBytes) {
        Ombrix::DropCachedPagesFrom(m_copyPath, static_cast<off_t>(m_copiedBytes));
    }
    bool renamed = false;
    const bool durable = Ombrix::RenameDurably(m_copyPath, m_vaultPath, &renamed);
    if (!renamed) {
        Discard();
        return false;
    }
    if (!durable) {
        // The new file stands under the vault's name and is what the program now reads;
        // only the flush of the name did not succeed.
        Ombrix::Log::Instance().Error("VaultUpdate::Commit folder sync error!");
    }
    // The device's handle still reads the old file, which no longer has a name.
    device->Close(m_vaultPath, false);
    return true;
}
