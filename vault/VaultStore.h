// The vault file: whether it exists, the master password with its picture, and the named
// passwords. Every operation stands alone: it takes the program directory (ending in '/')
// and the master password, opens its own circuit on "/device/system/db", and keeps nothing
// secret beyond the members below.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Data.h"
#include "vault/PasswordEntry.h"

// What stands under the vault's name in a program directory.
enum class VaultFileStatus {
    kNoVault,     // no file yet, or a database without the picture: the vault is set up anew
    kVault,       // the picture record is there
    kUnreadable,  // a file the database cannot read: never to be set up anew or written
};

constexpr int kPictureSide = 128;
constexpr int kPictureBytes = kPictureSide * kPictureSide * 3;  // 49,152: BGR rows from the top

class EntrySearch;

class VaultStore {
public:
    VaultStore() = default;
    VaultStore(const VaultStore&) = delete;
    VaultStore& operator=(const VaultStore&) = delete;
    ~VaultStore();

    // True when the vault file holds its "main" record.
    bool VaultExists(const std::string& directory);

    // Whether there is a vault, none yet, or a file that cannot be read. A file of an older
    // on-disk version of the database is upgraded first, after a backup copy of it was made
    // (see UpgradeVaultFile); one that cannot be upgraded is unreadable.
    VaultFileStatus CheckVault(const std::string& directory);

    // The decrypted picture (49,152 bytes in m_picture, valid until the next call), with
    // width and height set to 128; null, width and height untouched, when there is none or
    // the stored one is not exactly 49,152 bytes long (a damaged vault). A wrong master
    // password gives scrambled pixels: the vault cannot tell.
    const unsigned char* ReadPicture(const std::string& directory, std::string_view masterPassword,
                                     int* width, int* height);

    // Stores picture under the new master password; with an old one, re-encrypts the
    // entries under the new one as well, in the same change of the file. True when the
    // picture (and the entries) reached the disk; false when the vault could not take them,
    // or the entries could not be read with the old password, and then the vault is left as
    // it was.
    //
    // Every change of the file below is all-or-nothing, across a crash or a power cut too:
    // it is made in a copy that replaces the vault file once it is on disk (VaultUpdate.h).
    bool SetMasterPassword(const Ombrix::Data<unsigned char>& picture, const std::string& directory,
                           std::string_view newMasterPassword,
                           std::optional<std::string_view> oldMasterPassword);

    // All entries in stored order, their password fields zeroed.
    void ListEntries(EntryList& out, const std::string& directory, std::string_view masterPassword);

    // The first entry named name; false (out untouched) when there is none.
    bool GetEntry(const std::string& directory, std::string_view masterPassword,
                  std::string_view name, PasswordEntry& out);

    // Whether the stored list can be read (a vault without entries can); tells an entry that
    // is not there from a list that could not be looked through. The list read is kept, still
    // encrypted, in m_storedEntries.
    bool EntriesReadable(const std::string& directory);

    // Appends entry (fields cut to 62 bytes), renaming it when its name is taken (see
    // RenameDuplicate). Nothing is written when the stored list cannot be read. The entry
    // writers return true when the change is on disk, false when the vault is as it was.
    bool AddEntry(const std::string& directory, std::string_view masterPassword,
                  const PasswordEntry& entry);

    // Replaces the entry of the same name in place. No entry of that name: nothing is
    // written (false).
    bool ModifyEntry(const std::string& directory, std::string_view masterPassword,
                     const PasswordEntry& entry);

    // Removes the entry of the same name; the later ones move up. No entry of that name:
    // nothing is written, and the result is true as the vault holds no such entry.
    bool DeleteEntry(const std::string& directory, std::string_view masterPassword,
                     const PasswordEntry& entry);

    // Reads and decrypts the whole entry list into m_entries. Of a stored list whose length
    // is not a whole number of entries, the whole entries are used and the rest is ignored.
    void LoadEntries(const std::string& directory, std::string_view masterPassword);

    // Encrypts and writes m_entries as the "pass" record; true when it reached the disk. A
    // list the file cannot take (a full disk) is not written at all: the stored one stays.
    bool SaveEntries(const std::string& directory, std::string_view masterPassword,
                     bool replaceByDelete);

    bool m_exists = false;
    Ombrix::Data<unsigned char> m_picture;
    // The working copy of the entry list. The public operations wipe it before they return;
    // only LoadEntries leaves it filled.
    EntryList m_entries;
    // The stored list as read through the database by GetEntry (a list that fits the
    // database's cache) and EntriesReadable, kept encrypted and kept between calls so that
    // its memory is not allocated again for every lookup.
    std::vector<unsigned char> m_storedEntries;

private:
    // LoadEntries, telling whether the stored list is now known: true when it was read or
    // there is none, false when it could not be read (then nothing may be written back).
    bool ReadEntries(const std::string& directory, std::string_view masterPassword);
    // Copies the stored list's whole entries, still encrypted, to the memory that
    // place(count) gives for count entries; false when the vault or its list cannot be read.
    // A vault without a list places none.
    bool ReadStoredEntries(const std::string& directory,
                           const std::function<void*(std::size_t)>& place);
    // Hands the stored list's whole entries, still encrypted, to search; false when the
    // vault or its list cannot be read. Read through the database, the list is kept in
    // m_storedEntries.
    bool ScanStoredEntries(const std::string& directory, EntrySearch& search);
    // CheckVault's lookup of the picture record; with mayUpgrade, a file of an older on-disk
    // version is upgraded and looked at again.
    VaultFileStatus LookForPicture(const std::string& directory, bool mayUpgrade);
    // m_entries laid end to end and encrypted into out.
    bool EncryptEntries(std::string_view masterPassword, Ombrix::Data<unsigned char>& out) const;
    // The first loaded entry named name, or the end of m_entries.
    EntryList::iterator FindEntry(std::string_view name);
    // Wipes and empties m_entries.
    void ForgetEntries();
    // Wipes and empties m_picture.
    void ForgetPicture();
};

// The vault file's path in a program directory.
std::string VaultFilePath(const std::string& directory);
