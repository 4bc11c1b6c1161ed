#include "vault/VaultStore.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "framework/DbCursor.h"
#include "framework/DbFileRead.h"
#include "framework/LocalTime.h"
#include "framework/SecretString.h"
#include "vault/EntrySearch.h"
#include "vault/VaultCipher.h"
#include "vault/VaultCircuit.h"
#include "vault/VaultDecryptor.h"
#include "vault/VaultFileCheck.h"
#include "vault/VaultUpdate.h"

using Ombrix::Data;
using Ombrix::DbCursor;

namespace {

const char kVaultFileName[] = "ferrocask.db";

using vaultfile::kKeyLength;
const char kPictureKey[kKeyLength] = {'m', 'a', 'i', 'n'};
const char kEntriesKey[kKeyLength] = {'p', 'a', 's', 's'};

// The vault file for one operation; one that may be read but not written is opened
// read-only, so that the passwords can still be read (every change is then refused).
vaultfile::VaultCircuit OpenVault(const std::string& directory) {
    return vaultfile::VaultCircuit(VaultFilePath(directory), true);
}

bool Acceptable(std::string_view masterPassword) {
    return masterPassword.size() >= static_cast<std::size_t>(kMinMasterPasswordLength);
}

// Reads the value at the cursor into buffer (replacing its content) when it is exactly
// length bytes long; a value of any other stored length is not read, nor room made for it.
bool ReadValueOfLength(DbCursor& cursor, Data<unsigned char>& buffer, int length) {
    u_int32_t stored = 0;
    if (cursor.CurrentLength(&stored) != 0 || stored != static_cast<u_int32_t>(length)) {
        return false;
    }
    buffer.Wipe();
    buffer.m_nLength = 0;
    buffer.Extend(length);
    return cursor.ReadCurrent(buffer.m_pBuffer, stored) == 0;
}

// The stored list as a read finds it: the cursor stands on it, and count whole entries of
// it may be read.
struct StoredList {
    Db* db;
    DbCursor& cursor;
    u_int32_t length;   // the stored length
    std::size_t count;  // its whole entries
    u_int32_t EntryBytes() const { return static_cast<u_int32_t>(count * kEntrySize); }
    // A list bigger than the database's whole cache would pass through it page by page on
    // every read; it is read from the file instead, unless that read declines.
    bool ReadFromFile() const { return EntryBytes() > Ombrix::DbCacheBytes(db); }
};

// Finds the stored list of the vault in directory and hands it to read; false when the vault
// or its list cannot be read. A vault without a list hands one of no entries.
bool WithStoredList(const std::string& directory,
                    const std::function<bool(const StoredList&)>& read) {
    const vaultfile::VaultCircuit vault = OpenVault(directory);
    if (!vault.IsOpen()) {
        return false;
    }
    DbCursor cursor(vault.GetDb());
    if (!cursor.Valid()) {
        return false;
    }
    const int found = cursor.Seek(kEntriesKey, kKeyLength);
    u_int32_t length = 0;
    if (found == DB_NOTFOUND) {
        return read(StoredList{vault.GetDb(), cursor, 0, 0});
    }
    // A damaged file may claim any length: no value is longer than the file that holds it,
    // and no room is made for more.
    if (found != 0 || cursor.CurrentLength(&length) != 0 ||
        length > Ombrix::DbFileBytes(vault.GetDb())) {
        return false;
    }
    // Only whole entries are read; a damaged tail shorter than one entry is left out.
    return read(StoredList{vault.GetDb(), cursor, length, length / kEntrySize});
}

// The number of overflow pages whose bytes a search gets at a time from the file: 256 KiB,
// which stays in the processor's caches while it is looked through.
constexpr std::size_t kSearchPiecePages = 32;

}  // namespace

std::string VaultFilePath(const std::string& directory) {
    return directory + kVaultFileName;
}

VaultStore::~VaultStore() {
    ForgetEntries();
}

bool VaultStore::VaultExists(const std::string& directory) {
    return CheckVault(directory) == VaultFileStatus::kVault;
}

VaultFileStatus VaultStore::CheckVault(const std::string& directory) {
    m_exists = false;
    const VaultFileStatus status = LookForPicture(directory, true);
    m_exists = status == VaultFileStatus::kVault;
    return status;
}

VaultFileStatus VaultStore::LookForPicture(const std::string& directory, bool mayUpgrade) {
    const vaultfile::VaultCircuit vault = OpenVault(directory);
    if (!vault.IsOpen()) {
        // No file that could be made, or a file the database cannot open: only a missing
        // file means that there is no vault yet, and only an older on-disk version may be
        // made readable (once).
        switch (InspectVaultFile(VaultFilePath(directory))) {
            case VaultFileKind::kMissing:
                return VaultFileStatus::kNoVault;
            case VaultFileKind::kOldVersion:
                return mayUpgrade && UpgradeVaultFile(directory) ? LookForPicture(directory, false)
                                                                 : VaultFileStatus::kUnreadable;
            default:
                return VaultFileStatus::kUnreadable;
        }
    }
    DbCursor cursor(vault.GetDb());
    if (!cursor.Valid()) {
        return VaultFileStatus::kUnreadable;
    }
    const int found = cursor.Seek(kPictureKey, kKeyLength);
    if (found == 0) {
        return VaultFileStatus::kVault;
    }
    return found == DB_NOTFOUND ? VaultFileStatus::kNoVault : VaultFileStatus::kUnreadable;
}

const unsigned char* VaultStore::ReadPicture(const std::string& directory,
                                             std::string_view masterPassword, int* width,
                                             int* height) {
    ForgetPicture();  // a failed read shows nothing of an earlier one
    const vaultfile::VaultCircuit vault = OpenVault(directory);
    if (!vault.IsOpen() || !Acceptable(masterPassword)) {
        return nullptr;
    }
    {
        DbCursor cursor(vault.GetDb());
        if (!cursor.Valid() || cursor.Seek(kPictureKey, kKeyLength) != 0) {
            return nullptr;
        }
        // A stored picture of any other length is damaged: there is no picture to show,
        // and nothing past the stored value is ever decrypted.
        if (!ReadValueOfLength(cursor, m_picture, kPictureBytes)) {
            ForgetPicture();
            return nullptr;
        }
    }
    if (width != nullptr) {
        *width = kPictureSide;
    }
    if (height != nullptr) {
        *height = kPictureSide;
    }
    DecryptVaultBuffer(masterPassword, m_picture.m_pBuffer, kPictureBytes);
    return m_picture.m_pBuffer;
}

bool VaultStore::SetMasterPassword(const Data<unsigned char>& picture, const std::string& directory,
                                   std::string_view newMasterPassword,
                                   std::optional<std::string_view> oldMasterPassword) {
    // The caller's text may change under the entry rewrite below; keep a copy that wipes
    // itself.
    const Ombrix::SecretString newPassword(newMasterPassword);
    if (!Acceptable(newPassword) || picture.m_nLength != kPictureBytes ||
        picture.m_pBuffer == nullptr) {
        return false;
    }
    // The entries follow the new password, so they must be known first: a list that cannot
    // be read stops the change, since the picture alone under the new password would leave
    // the entries readable under neither.
    if (oldMasterPassword.has_value() && !ReadEntries(directory, *oldMasterPassword)) {
        ForgetEntries();
        return false;
    }
    Data<unsigned char> stored(kPictureBytes);
    stored.Append(picture.m_pBuffer, kPictureBytes);
    EncryptVaultBuffer(newPassword, stored);
    // Picture and entries go into the file in one change: it opens completely under the old
    // password or completely under the new one.
    VaultUpdate update(directory);
    bool done = update.Put(kPictureKey, stored, false);
    if (done && oldMasterPassword.has_value()) {
        Data<unsigned char> entries;
        done = EncryptEntries(newPassword, entries) && update.Put(kEntriesKey, entries, false);
    }
    ForgetEntries();
    return done && update.Commit();
}

void VaultStore::LoadEntries(const std::string& directory, std::string_view masterPassword) {
    ReadEntries(directory, masterPassword);
}

bool VaultStore::ReadEntries(const std::string& directory, std::string_view masterPassword) {
    ForgetEntries();
    // Only whole entries are read; a damaged tail shorter than one entry is ignored.
    if (!Acceptable(masterPassword) ||
        !ReadStoredEntries(directory, [this](std::size_t count) -> void* {
            m_entries.resize(count);
            return m_entries.data();
        })) {
        ForgetEntries();
        return false;
    }
    auto* bytes = reinterpret_cast<unsigned char*>(m_entries.data());
    VaultDecryptor(masterPassword).Decrypt(bytes, bytes, m_entries.size() * kEntrySize);
    return true;
}

bool VaultStore::SaveEntries(const std::string& directory, std::string_view masterPassword,
                             bool replaceByDelete) {
    if (!Acceptable(masterPassword)) {
        return false;
    }
    Data<unsigned char> buffer;
    if (!EncryptEntries(masterPassword, buffer)) {
        return false;
    }
    VaultUpdate update(directory);
    return update.Put(kEntriesKey, buffer, replaceByDelete) && update.Commit();
}

bool VaultStore::EncryptEntries(std::string_view masterPassword, Data<unsigned char>& out) const {
    const std::size_t bytes = m_entries.size() * kEntrySize;
    if (bytes > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    out.Wipe();
    out.m_nLength = 0;
    out.Append(reinterpret_cast<const unsigned char*>(m_entries.data()), static_cast<int>(bytes));
    EncryptVaultBuffer(masterPassword, out);
    return true;
}

bool VaultStore::ReadStoredEntries(const std::string& directory,
                                   const std::function<void*(std::size_t)>& place) {
    return WithStoredList(directory, [&place](const StoredList& list) {
        void* destination = place(list.count);
        const u_int32_t bytes = list.EntryBytes();
        return bytes == 0 ||
               (list.ReadFromFile() &&
                Ombrix::ReadOverflowValueFromFile(list.db, kEntriesKey, kKeyLength, list.length,
                                                  destination, bytes)) ||
               list.cursor.ReadCurrentStart(destination, bytes) == 0;
    });
}

bool VaultStore::ScanStoredEntries(const std::string& directory, EntrySearch& search) {
    return WithStoredList(directory, [this, &search](const StoredList& list) {
        const u_int32_t bytes = list.EntryBytes();
        if (bytes == 0) {
            return true;
        }
        // From the file the list comes piece by piece and is never copied whole.
        if (list.ReadFromFile()) {
            if (Ombrix::ReadOverflowValueFromFileInPieces(
                    list.db, kEntriesKey, kKeyLength, list.length, bytes, kSearchPiecePages,
                    [&search](const unsigned char* piece, std::size_t pieceBytes) {
                        search.Take(piece, pieceBytes);
                    })) {
                return true;
            }
            search.Restart();
        }
        m_storedEntries.resize(bytes);
        if (list.cursor.ReadCurrentStart(m_storedEntries.data(), bytes) != 0) {
            return false;
        }
        search.Take(m_storedEntries.data(), bytes);
        return true;
    });
}

void VaultStore::ListEntries(EntryList& out, const std::string& directory,
                             std::string_view masterPassword) {
    // The stored entries go straight into the caller's list and are decrypted there, name
    // and kind only: the passwords are never decrypted for a list, and their still
    // encrypted bytes are zeroed. A list used before is reused as it is (every entry kept is
    // overwritten by the read; those beyond the new length are wiped), so that its memory
    // is neither allocated nor cleared again.
    const auto forgetFrom = [&out](std::size_t count) {
        for (std::size_t i = count; i < out.size(); ++i) {
            WipeEntry(out[i]);
        }
        out.resize(std::min(count, out.size()));
    };
    const bool read =
        Acceptable(masterPassword) && ReadStoredEntries(directory, [&](std::size_t count) -> void* {
            forgetFrom(count);
            out.resize(count);
            return out.data();
        });
    if (!read) {
        forgetFrom(0);
        return;
    }
    const VaultDecryptor decryptor(masterPassword);
    for (PasswordEntry& entry : out) {
        auto* bytes = reinterpret_cast<unsigned char*>(&entry);
        decryptor.Decrypt(bytes, bytes, offsetof(PasswordEntry, password));
        std::memset(entry.password, 0, sizeof entry.password);
    }
}

bool VaultStore::GetEntry(const std::string& directory, std::string_view masterPassword,
                          std::string_view name, PasswordEntry& out) {
    // The list is read still encrypted (it holds no secret that way) and only the names are
    // decrypted, until the first that matches; only that entry is decrypted whole, into out.
    if (!Acceptable(masterPassword)) {
        return false;
    }
    const VaultDecryptor decryptor(masterPassword);
    EntrySearch search(decryptor, name);
    return ScanStoredEntries(directory, search) && search.Found(out);
}

bool VaultStore::EntriesReadable(const std::string& directory) {
    return ReadStoredEntries(directory, [this](std::size_t count) -> void* {
        m_storedEntries.resize(count * kEntrySize);
        return m_storedEntries.data();
    });
}

bool VaultStore::AddEntry(const std::string& directory, std::string_view masterPassword,
                          const PasswordEntry& entry) {
    bool saved = false;
    // A list that could not be read must not be replaced by one holding only the new entry.
    if (ReadEntries(directory, masterPassword)) {
        PasswordEntry added = entry;
        NormalizeEntry(added);
        const std::string_view wanted = FieldText(added.name);
        if (NameTaken(wanted, m_entries)) {
            // The time is read once, for every renaming this one addition needs.
            SetFieldText(added.name,
                         RenameDuplicate(wanted, m_entries, Ombrix::CurrentLocalTime()));
        }
        m_entries.push_back(added);
        WipeEntry(added);
        saved = SaveEntries(directory, masterPassword, false);
    }
    ForgetEntries();
    return saved;
}

bool VaultStore::ModifyEntry(const std::string& directory, std::string_view masterPassword,
                             const PasswordEntry& entry) {
    bool saved = false;
    if (ReadEntries(directory, masterPassword)) {
        auto found = FindEntry(FieldText(entry.name));
        // An absent name changes nothing, so nothing is written.
        if (found != m_entries.end()) {
            *found = entry;
            NormalizeEntry(*found);
            saved = SaveEntries(directory, masterPassword, false);
        }
    }
    ForgetEntries();
    return saved;
}

bool VaultStore::DeleteEntry(const std::string& directory, std::string_view masterPassword,
                             const PasswordEntry& entry) {
    bool saved = false;
    if (ReadEntries(directory, masterPassword)) {
        auto found = FindEntry(FieldText(entry.name));
        if (found != m_entries.end()) {
            // The gap is closed in place and the freed last slot wiped, so that no copy of
            // an entry stays behind the list's end.
            const std::size_t after = static_cast<std::size_t>(m_entries.end() - found) - 1;
            std::memmove(&*found, &*found + 1, after * sizeof(PasswordEntry));
            WipeEntry(m_entries.back());
            m_entries.pop_back();
            saved = SaveEntries(directory, masterPassword, true);
        } else {
            saved = true;  // no entry of that name: the vault already is as asked
        }
    }
    ForgetEntries();
    return saved;
}

EntryList::iterator VaultStore::FindEntry(std::string_view name) {
    const FieldTextMatch named(name);
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [&named](const PasswordEntry& stored) { return named(stored.name); });
}

void VaultStore::ForgetEntries() {
    for (PasswordEntry& entry : m_entries) {
        WipeEntry(entry);
    }
    m_entries.clear();
}

void VaultStore::ForgetPicture() {
    m_picture.Wipe();
    m_picture.m_nLength = 0;
}
