#include "vault/VaultStore.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "framework/DbCursor.h"
#include "framework/DbDevice.h"
#include "framework/DbRoom.h"
#include "framework/DeviceManager.h"
#include "framework/LocalTime.h"
#include "framework/SecretString.h"
#include "framework/SecureWipe.h"
#include "vault/VaultCipher.h"

using Ombrix::Data;
using Ombrix::DbCursor;

namespace {

const char kDatabaseDevice[] = "/device/system/db";
const char kVaultFileName[] = "ferrocask.db";

// The two keys of the vault file, four bytes each, without a terminating zero.
constexpr u_int32_t kKeyLength = 4;
const char kPictureKey[kKeyLength] = {'m', 'a', 'i', 'n'};
const char kEntriesKey[kKeyLength] = {'p', 'a', 's', 's'};

// The vault file for the length of one operation: a fresh circuit of the database device,
// released when the operation ends. The database handle itself stays open in the device.
class OpenVault {
public:
    explicit OpenVault(const std::string& directory)
        : m_circuit(Ombrix::DeviceManager::Instance().GetCircuit(
              kDatabaseDevice, VaultFilePath(directory), 0, nullptr, nullptr)) {
        if (auto* database = dynamic_cast<Ombrix::DbCircuit*>(m_circuit.get())) {
            m_pDb = database->GetDb();
        }
    }

    bool IsOpen() const { return m_pDb != nullptr; }
    Db* GetDb() const { return m_pDb; }

private:
    std::unique_ptr<Ombrix::CircuitInterface> m_circuit;
    Db* m_pDb = nullptr;
};

bool Acceptable(std::string_view masterPassword) {
    return masterPassword.size() >= static_cast<std::size_t>(kMinMasterPasswordLength);
}

// Reads the whole value at the cursor into buffer (replacing its content).
bool ReadCurrentValue(DbCursor& cursor, Data<unsigned char>& buffer) {
    u_int32_t length = 0;
    if (cursor.CurrentLength(&length) != 0 || length > static_cast<u_int32_t>(INT_MAX)) {
        return false;
    }
    buffer.Wipe();
    buffer.m_nLength = 0;
    buffer.Extend(static_cast<int>(length));
    return cursor.ReadCurrent(buffer.m_pBuffer, length) == 0;
}

// Writes value under key: in place when the cursor found the key, inserted otherwise.
int PutAtCursorOrInsert(Db* db, DbCursor& cursor, bool found, const char* key,
                        const Data<unsigned char>& value) {
    if (found) {
        return cursor.PutCurrent(value.m_pBuffer, value.m_nLength);
    }
    return Ombrix::DbInsertNew(db, key, kKeyLength, value.m_pBuffer, value.m_nLength);
}

// What a record held before it was written, so that the write can be taken back.
struct PreviousRecord {
    bool present = false;     // the key existed
    bool restorable = false;  // its value was read and can be put back
    Data<unsigned char> value;
};

// Brings the record under key back to what it was (or removes it when there was none).
int RestoreRecord(Db* db, const char* key, const PreviousRecord& previous) {
    DbCursor cursor(db);
    if (!cursor.Valid()) {
        return EINVAL;
    }
    const bool found = cursor.Seek(key, kKeyLength) == 0;
    if (!previous.present) {
        return found ? cursor.DeleteCurrent() : 0;
    }
    return PutAtCursorOrInsert(db, cursor, found, key, previous.value);
}

// Writes value under key (replacing an existing record in place, or by deleting it and
// inserting the new one) and flushes the file. True when the new value is in the file.
//
// Nothing is written unless the file has room to grow by the whole value (see DbRoom.h). A
// flush can still fail (the room set aside was lost to a race, an I/O error), and then the
// file holds some pages of the new record and some of the old, while the database's cache
// holds the new record as if it were stored. So a failed put or flush is taken back: the
// previous record is put back and flushed again, which needs no more room than the file had.
// File and cache then hold the old record, and the caller reports the failure.
bool WriteRecord(Db* db, const char* key, const Data<unsigned char>& value, bool replaceByDelete,
                 PreviousRecord& previous) {
    if (!Ombrix::DbMakeRoomFor(db, static_cast<u_int32_t>(value.m_nLength))) {
        return false;
    }
    int result = 0;
    {
        DbCursor cursor(db);
        if (!cursor.Valid()) {
            return false;
        }
        previous.present = cursor.Seek(key, kKeyLength) == 0;
        // An unreadable old value is still replaced (that is the only way past it), but
        // cannot be restored.
        previous.restorable = !previous.present || ReadCurrentValue(cursor, previous.value);
        if (previous.present && replaceByDelete) {
            cursor.DeleteCurrent();
            result = Ombrix::DbInsertNew(db, key, kKeyLength, value.m_pBuffer, value.m_nLength);
        } else {
            result = PutAtCursorOrInsert(db, cursor, previous.present, key, value);
        }
    }
    if (result == 0 && db->sync(0) == 0) {
        return true;
    }
    if (previous.restorable && RestoreRecord(db, key, previous) == 0) {
        db->sync(0);
    }
    return false;
}

}  // namespace

std::string VaultFilePath(const std::string& directory) {
    return directory + kVaultFileName;
}

VaultStore::~VaultStore() {
    ForgetEntries();
}

bool VaultStore::VaultExists(const std::string& directory) {
    m_exists = false;
    OpenVault vault(directory);
    if (!vault.IsOpen()) {
        return false;
    }
    DbCursor cursor(vault.GetDb());
    if (!cursor.Valid()) {
        return false;
    }
    m_exists = cursor.Seek(kPictureKey, kKeyLength) == 0;
    return m_exists;
}

const unsigned char* VaultStore::ReadPicture(const std::string& directory,
                                             std::string_view masterPassword, int* width,
                                             int* height) {
    OpenVault vault(directory);
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
        if (!ReadCurrentValue(cursor, m_picture) || m_picture.m_nLength != kPictureBytes) {
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
    OpenVault vault(directory);
    if (!vault.IsOpen() || !Acceptable(newPassword) || picture.m_nLength != kPictureBytes ||
        picture.m_pBuffer == nullptr) {
        return false;
    }
    Data<unsigned char> stored(kPictureBytes);
    stored.Append(picture.m_pBuffer, kPictureBytes);
    EncryptVaultBuffer(newPassword, stored);
    PreviousRecord previousPicture;
    if (!WriteRecord(vault.GetDb(), kPictureKey, stored, false, previousPicture)) {
        return false;
    }

    // The entries follow the new password. An unreadable list is left as it is rather than
    // replaced by an empty one. A list that cannot be stored under the new password would
    // read as scrambled bytes with it, so then the picture is taken back as well: the vault
    // stays as it was, under the old password, and the change is reported as failed.
    bool entriesFollowed = true;
    if (oldMasterPassword.has_value()) {
        if (ReadEntries(directory, *oldMasterPassword)) {
            entriesFollowed = WriteEntries(directory, newPassword, false);
        }
        ForgetEntries();
    }
    if (!entriesFollowed && previousPicture.restorable &&
        RestoreRecord(vault.GetDb(), kPictureKey, previousPicture) == 0) {
        vault.GetDb()->sync(0);
    }
    return entriesFollowed;
}

void VaultStore::LoadEntries(const std::string& directory, std::string_view masterPassword) {
    ReadEntries(directory, masterPassword);
}

bool VaultStore::ReadEntries(const std::string& directory, std::string_view masterPassword) {
    ForgetEntries();
    OpenVault vault(directory);
    if (!vault.IsOpen() || !Acceptable(masterPassword)) {
        return false;
    }
    Data<unsigned char> buffer;
    {
        DbCursor cursor(vault.GetDb());
        if (!cursor.Valid()) {
            return false;
        }
        const int found = cursor.Seek(kEntriesKey, kKeyLength);
        if (found == DB_NOTFOUND) {
            return true;  // a vault without entries
        }
        if (found != 0 || !ReadCurrentValue(cursor, buffer)) {
            return false;
        }
    }
    // Only whole entries are used; a damaged tail shorter than one entry is ignored.
    const std::size_t count = static_cast<std::size_t>(buffer.m_nLength) / kEntrySize;
    const int used = static_cast<int>(count * kEntrySize);
    DecryptVaultBuffer(masterPassword, buffer.m_pBuffer, used);
    m_entries.resize(count);
    if (count > 0) {
        std::memcpy(m_entries.data(), buffer.m_pBuffer, count * kEntrySize);
    }
    return true;
}

void VaultStore::SaveEntries(const std::string& directory, std::string_view masterPassword,
                             bool replaceByDelete) {
    WriteEntries(directory, masterPassword, replaceByDelete);
}

bool VaultStore::WriteEntries(const std::string& directory, std::string_view masterPassword,
                              bool replaceByDelete) {
    OpenVault vault(directory);
    if (!vault.IsOpen() || !Acceptable(masterPassword)) {
        return false;
    }
    const std::size_t bytes = m_entries.size() * kEntrySize;
    if (bytes > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    Data<unsigned char> buffer(static_cast<int>(bytes));
    buffer.Append(reinterpret_cast<const unsigned char*>(m_entries.data()),
                  static_cast<int>(bytes));
    EncryptVaultBuffer(masterPassword, buffer);
    PreviousRecord previous;
    return WriteRecord(vault.GetDb(), kEntriesKey, buffer, replaceByDelete, previous);
}

void VaultStore::ListEntries(EntryList& out, const std::string& directory,
                             std::string_view masterPassword) {
    ReadEntries(directory, masterPassword);
    for (PasswordEntry& entry : out) {
        WipeEntry(entry);
    }
    out.clear();
    out.reserve(m_entries.size());
    for (const PasswordEntry& entry : m_entries) {
        out.push_back(entry);
        Ombrix::SecureWipe(out.back().password, sizeof out.back().password);
    }
    ForgetEntries();
}

bool VaultStore::GetEntry(const std::string& directory, std::string_view masterPassword,
                          std::string_view name, PasswordEntry& out) {
    ReadEntries(directory, masterPassword);
    auto found = FindEntry(name);
    const bool exists = found != m_entries.end();
    if (exists) {
        out = *found;
    }
    ForgetEntries();
    return exists;
}

void VaultStore::AddEntry(const std::string& directory, std::string_view masterPassword,
                          const PasswordEntry& entry) {
    // A list that could not be read must not be replaced by one holding only the new entry.
    if (ReadEntries(directory, masterPassword)) {
        PasswordEntry added = entry;
        NormalizeEntry(added);
        const std::string_view wanted = FieldText(added.name);
        if (std::any_of(m_entries.begin(), m_entries.end(),
                        [wanted](const PasswordEntry& e) { return HasName(e, wanted); })) {
            // The time is read once, for every renaming this one addition needs.
            SetFieldText(added.name,
                         RenameDuplicate(wanted, m_entries, Ombrix::CurrentLocalTime()));
        }
        m_entries.push_back(added);
        WipeEntry(added);
        SaveEntries(directory, masterPassword, false);
    }
    ForgetEntries();
}

void VaultStore::ModifyEntry(const std::string& directory, std::string_view masterPassword,
                             const PasswordEntry& entry) {
    if (ReadEntries(directory, masterPassword)) {
        auto found = FindEntry(FieldText(entry.name));
        // An absent name changes nothing, so nothing is written.
        if (found != m_entries.end()) {
            *found = entry;
            NormalizeEntry(*found);
            SaveEntries(directory, masterPassword, false);
        }
    }
    ForgetEntries();
}

void VaultStore::DeleteEntry(const std::string& directory, std::string_view masterPassword,
                             const PasswordEntry& entry) {
    if (ReadEntries(directory, masterPassword)) {
        auto found = FindEntry(FieldText(entry.name));
        if (found != m_entries.end()) {
            // The gap is closed in place and the freed last slot wiped, so that no copy of
            // an entry stays behind the list's end.
            const std::size_t after = static_cast<std::size_t>(m_entries.end() - found) - 1;
            std::memmove(&*found, &*found + 1, after * sizeof(PasswordEntry));
            WipeEntry(m_entries.back());
            m_entries.pop_back();
            SaveEntries(directory, masterPassword, true);
        }
    }
    ForgetEntries();
}

EntryList::iterator VaultStore::FindEntry(std::string_view name) {
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [name](const PasswordEntry& stored) { return HasName(stored, name); });
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
