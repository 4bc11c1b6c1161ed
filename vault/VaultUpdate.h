// One change of the vault file, made all-or-nothing.
//
// The vault file is a Berkeley DB file without a log: a change is made in the database's
// cache and written out page by page, so a process killed (or a machine losing power) in
// the middle of writing leaves a file with pages of two states, often one the library
// cannot read. So a change is never written into the vault file itself. It is made in a copy
// beside it ("ferrocask.db.new"), which is flushed to disk and then renamed over the vault
// file; the folder is flushed after the rename. At every moment the name "ferrocask.db"
// stands for a complete file, the old one or the new one, and a failure on the way (a full
// disk, a read-only folder, an I/O error) only leaves a copy behind that the next change
// removes. Other builds never look at the copy.
//
// The database device keeps one handle per path open for the run. Once the new file has
// replaced the old, the device's handle on the old file is closed, so that the next circuit
// opens the file now under the name.
#pragma once

#include <memory>
#include <string>

#include "framework/Data.h"
#include "vault/VaultCircuit.h"

class VaultUpdate {
public:
    // Copies the vault file of directory and opens the copy for the change. A vault file
    // that may not be written (its permissions, or the folder's) gives no copy.
    explicit VaultUpdate(const std::string& directory);
    // Without a successful Commit, the copy is closed without writing and removed.
    ~VaultUpdate();
    VaultUpdate(const VaultUpdate&) = delete;
    VaultUpdate& operator=(const VaultUpdate&) = delete;

    // Writes value under the 4-byte key in the copy: the existing record is replaced in
    // place, or deleted and inserted anew with replaceByDelete; a missing one is inserted.
    bool Put(const char* key, const Ombrix::Data<unsigned char>& value, bool replaceByDelete);

    // Puts the copy in the vault file's place. True once the new file stands under the
    // vault's name; false when the vault file is as it was before the change.
    bool Commit();

    // The name of the copy beside the vault file.
    static std::string CopyPath(const std::string& directory);

private:
    void Discard();

    std::string m_vaultPath;
    std::string m_copyPath;
    std::unique_ptr<vaultfile::VaultCircuit> m_copy;  // the copy open for the change
    u_int64_t m_copiedBytes = 0;                      // the copy's size before the change
    bool m_failed = false;
};
