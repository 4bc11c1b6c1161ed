#include "vault/VaultStore.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <regex>

#include "framework/DbFileRead.h"
#include "framework/DurableFile.h"
#include "vault/VaultBackup.h"
#include "vault/VaultCipher.h"
#include "vault/VaultTestSupport.h"

using namespace vaulttest;

namespace {
const std::string kPassword = "secret12", kNew = "newpass22";

std::string Decrypted(std::string bytes) {
    auto* data = reinterpret_cast<unsigned char*>(bytes.data());
    EXPECT_TRUE(DecryptVaultBuffer(kPassword, data, static_cast<int>(bytes.size())));
    return bytes;
}

// The picture is stored encrypted with nothing added (no salt).
TEST_F(VaultTest, ThePictureOpensOnlyWithItsMasterPassword) {
    Ombrix::Data<unsigned char> picture;
    for (int length : {kPictureBytes - 1, kPictureBytes + 1, 0, kPictureBytes}) {
        MakePicture(picture, 5, length);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, "short12", std::nullopt));
        EXPECT_EQ(store.SetMasterPassword(picture, directory, kPassword, std::nullopt),
                  length == kPictureBytes);
    }
    int width = 0, height = 0;
    ASSERT_NE(store.ReadPicture(directory, kPassword, &width, &height), nullptr);
    EXPECT_EQ(width * 1000 + height, 128128);
    EXPECT_NE(Picture("wrong123"), PictureBytes(5));
    EXPECT_EQ(Picture("short12"), "");
    EXPECT_EQ(Decrypted(Record(VaultFile(), "main")), PictureBytes(5));
    EXPECT_EQ(Record(VaultFile(), "pass"), "<none>");
}

// Entries are records of three zero-padded 64-byte fields in the order added, found by their
// exact name; a change of an absent name, or any under a short password, writes nothing.
TEST_F(VaultTest, EntriesAreStoredInOrderMisfitsWriteNothingAndDuplicatesAreRenamed) {
    MakeVault(kPassword, {"mail", "bank", std::string(70, 'n')});
    const std::string plain = Decrypted(Record(VaultFile(), "pass"));
    const auto padded = [](std::string text) { return text.append(64 - text.size(), '\0'); };
    EXPECT_EQ(plain.substr(192), padded("bank") + padded("normal") + padded("pw-bank") +
                                     padded(std::string(62, 'n')) + padded("normal") +
                                     padded("pw-" + std::string(59, 'n')));
    PasswordEntry found;
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "Bank", found));
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "ban", found));
    const std::string before = VaultBytes();
    store.ModifyEntry(directory, kPassword, MakePasswordEntry("two", "x"));
    store.DeleteEntry(directory, kPassword, MakePasswordEntry("two", ""));
    store.AddEntry(directory, "short12", MakePasswordEntry("new", "1"));
    store.ModifyEntry(directory, "short12", MakePasswordEntry("mail", "x"));
    store.DeleteEntry(directory, "short12", MakePasswordEntry("mail", ""));
    EXPECT_TRUE(VaultBytes() == before);
    // A name taken already gets the time of adding, cut to fit the field, and a number when
    // that is taken as well.
    store.AddEntry(directory, kPassword, MakePasswordEntry("mail", "second"));
    EXPECT_TRUE(std::regex_match(Entries(kPassword).at(3), std::regex("mail_20[0-9]{12}=second")));
    const std::string fixed = "_20131205093007", long50(50, 'L');
    EntryList entries{MakePasswordEntry(long50, "")};
    for (int i = 0; i < 11; ++i) {
        entries.push_back(
            MakePasswordEntry(RenameDuplicate(long50, entries, {2013, 12, 5, 9, 30, 7}), ""));
    }
    EXPECT_EQ(FieldText(entries[1].name), std::string(47, 'L') + fixed);
    EXPECT_EQ(FieldText(entries[2].name), std::string(45, 'L') + fixed + "_1");
    EXPECT_EQ(FieldText(entries[11].name), std::string(44, 'L') + fixed + "_10");
}

using MasterPasswordChangeTest = VaultTest;

// Without the old password only the picture moves. The backup keeps the vault's mode.
TEST_F(MasterPasswordChangeTest, TheEntriesFollowOnlyWithTheOldPasswordAndTheBackupOpens) {
    MakeVault(kPassword, {"mail", "bank"});
    ASSERT_EQ(::chmod(VaultFile().c_str(), 0640), 0);
    ASSERT_TRUE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 1u);
    const std::string backup = dir.File(Backups()[0]);
    struct stat info {};
    ASSERT_EQ(::stat(backup.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 9);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kNew, kPassword));
    EXPECT_EQ(Picture(kNew), PictureBytes(9));
    EXPECT_EQ(Entries(kNew), (Strings{"mail=pw-mail", "bank=pw-bank"}));
    MakePicture(picture, 3);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    EXPECT_EQ(Picture(kPassword), PictureBytes(3));
    EXPECT_EQ(Entries(kNew), (Strings{"mail=pw-mail", "bank=pw-bank"}));
    RestartDevice();
    testsupport::WriteFile(VaultFile(), testsupport::ReadFile(backup));
    EXPECT_EQ(Picture(kPassword), PictureBytes(1));
    EXPECT_EQ(Entries(kPassword), (Strings{"mail=pw-mail", "bank=pw-bank"}));
}

TEST_F(MasterPasswordChangeTest, AnExistingBackupIsNeverOverwritten) {
    EXPECT_EQ(VaultBackupPath("/d/", {2013, 12, 5, 9, 30, 7}), "/d/ferrocask_20131205093007.db");
    MakeVault(kPassword);
    for (int ahead = 0; ahead < 3; ++ahead) {  // this second and the next ones are taken
        const std::time_t when = std::time(nullptr) + ahead;
        std::tm t{};
        localtime_r(&when, &t);
        testsupport::WriteFile(
            VaultBackupPath(directory, {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                                        t.tm_min, t.tm_sec}),
            "earlier");
    }
    EXPECT_FALSE(BackupVaultFile(directory));
    ASSERT_EQ(Backups().size(), 3u);
    for (const std::string& name : Backups()) {
        EXPECT_EQ(testsupport::ReadFile(dir.File(name)), "earlier");
    }
    // No vault file; a vault path that cannot be read.
    testsupport::TempDir empty;
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    ASSERT_EQ(::mkdir(empty.File("ferrocask.db").c_str(), 0755), 0);
    EXPECT_FALSE(BackupVaultFile(empty.Path() + "/"));
    EXPECT_EQ(testsupport::ListFiles(empty.Path()), Strings{"ferrocask.db"});
}

class DamagedVaultTest : public VaultTest {
protected:
    // Runs every operation on the vault; none may crash, and no picture may be shown.
    void ExpectNoPicture() {
        int width = -1, height = -1;
        VaultStore fresh;
        EXPECT_EQ(fresh.ReadPicture(directory, kPassword, &width, &height), nullptr);
        EXPECT_EQ(width + height, -2);
        fresh.AddEntry(directory, kPassword, MakePasswordEntry("a", "1"));
        fresh.ModifyEntry(directory, kPassword, MakePasswordEntry("a", "2"));
        fresh.DeleteEntry(directory, kPassword, MakePasswordEntry("a", ""));
        Entries(kPassword);
    }
};

std::uint32_t NumberAt(const std::string& file, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, file.data() + at, 4);
    return value;
}

std::string WithNumber(std::string file, std::size_t at, std::uint32_t value) {
    std::memcpy(&file[at], &value, 4);
    return file;
}

// A new vault would be written over the user's passwords.
TEST_F(DamagedVaultTest, AFileTheDatabaseCannotReadIsNeverTakenForAMissingVault) {
    MakeVault(kPassword, {"one"});
    RestartDevice();
    const std::string sound = VaultBytes();
    for (const std::string& content :
         {std::string(30000, 'j'), WithNumber(sound, 16, 10), sound.substr(0, 100)}) {
        Replace(content);
        EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kUnreadable);
        EXPECT_FALSE(store.VaultExists(directory));
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
        EXPECT_FALSE(store.SetMasterPassword(picture, directory, kPassword, kPassword));
        ExpectNoPicture();
        EXPECT_TRUE(VaultBytes() == content);
        EXPECT_EQ(testsupport::ListFiles(dir.Path()), Strings{"ferrocask.db"});
    }
    // A file cut short at any length shows no partial picture and lets no operation crash.
    for (std::size_t size : {1ul, 8192ul, 16384ul, sound.size() / 2, sound.size() - 8192}) {
        Replace(sound.substr(0, size));
        ExpectNoPicture();
    }
}

// Version 7's meta page: the flags, the file id and the tree's settings sit 16 bytes
// earlier, without the four bytes that follow the file id in version 8.
std::string Version7Of(const std::string& version8) {
    const std::uint32_t pageSize = NumberAt(version8, 20);
    std::string version7 = WithNumber(version8.substr(0, 32), 16, 7) + version8.substr(48, 44) +
                           std::string(pageSize - 76, '\0') + version8.substr(pageSize);
    version7.replace(56, 4, 4, '\0');
    return version7;
}

// Version 8 is read as it is.
TEST_F(DamagedVaultTest, AnOlderOnDiskVersionIsUpgradedAfterABackup) {
    MakeVault(kPassword, {"one", "two"});
    RestartDevice();
    const std::string version8 = WithNumber(VaultBytes(), 16, 8);
    Replace(version8);
    EXPECT_EQ(store.CheckVault(directory), VaultFileStatus::kVault);
    EXPECT_TRUE(VaultBytes() == version8);
    EXPECT_TRUE(Backups().empty());
    const std::string version7 = Version7Of(version8);
    Replace(version7);
    ASSERT_EQ(store.CheckVault(directory), VaultFileStatus::kVault);
    ASSERT_EQ(Backups().size(), 1u);
    EXPECT_TRUE(testsupport::ReadFile(dir.File(Backups()[0])) == version7);
    EXPECT_EQ(Entries(kPassword), (Strings{"one=pw-one", "two=pw-two"}));
    EXPECT_GE(NumberAt(VaultBytes(), 16), 8u);
    EXPECT_TRUE(store.AddEntry(directory, kPassword, MakePasswordEntry("three", "3")));

    // An upgrade that is in place, though the folder could not be flushed after it, is read.
    for (const std::string& backup : Backups()) {
        ::unlink(dir.File(backup).c_str());
    }
    Replace(version7);
    Ombrix::FileCalls& calls = Ombrix::DurableFileCalls();
    calls.rename = [](const char* from, const char* to) {  // every flush after it fails
        Ombrix::DurableFileCalls().fsync = [](int) { return errno = EIO, -1; };
        return ::rename(from, to);
    };
    const VaultFileStatus status = store.CheckVault(directory);
    calls.rename = ::rename;
    calls.fsync = ::fsync;
    EXPECT_EQ(status, VaultFileStatus::kVault);
    EXPECT_GE(NumberAt(VaultBytes(), 16), 8u);
    EXPECT_EQ(Entries(kPassword), (Strings{"one=pw-one", "two=pw-two"}));
}

// sound with the total length of its one overflow item of the given length changed: the
// item's type (3) is two bytes in, its length eight bytes after that.
std::string WithStoredLength(const std::string& sound, std::uint32_t stored,
                             std::uint32_t claimed) {
    std::string file = sound;
    int found = 0;
    for (std::size_t at = 10; at + 4 <= file.size(); ++at) {
        if (file[at - 6] == 3 && NumberAt(file, at) == stored) {
            file = WithNumber(file, at, claimed);
            ++found;
        }
    }
    EXPECT_EQ(found, 1);
    return file;
}

// The entries' chain of overflow pages points past the file, or their item claims more bytes
// than the chain holds or than the whole file: nothing may be read as if it were whole,
// written back, or made room for.
// A vault of count entries "e0", "e1"... with passwords "pw-e0"..., written as one list.
void WriteEntries(VaultStore& store, const std::string& directory, int count) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, kPassword, std::nullopt));
    for (int i = 0; i < count; ++i) {
        const std::string name = "e" + std::to_string(i);
        store.m_entries.push_back(MakePasswordEntry(name, "pw-" + name));
    }
    ASSERT_TRUE(store.SaveEntries(directory, kPassword, false));
    store.m_entries.clear();
}

// A name is found by all of its bytes, up to a zero byte in the name asked for: names that
// agree in their first eight bytes, or differ only there, or are one byte longer or shorter,
// are other names.
TEST_F(VaultTest, NamesAreFoundByAllTheirBytes) {
    const std::string longest(62, 'p');
    MakeVault(kPassword, {"accounts-home", "accounts-work", "xccounts-home", longest, "short"});
    PasswordEntry found{};
    for (const std::string& name : {std::string("accounts-home"), std::string("accounts-work"),
                                    std::string("xccounts-home"), longest, std::string("short")}) {
        ASSERT_TRUE(store.GetEntry(directory, kPassword, name, found)) << name;
        EXPECT_EQ(FieldText(found.password), ("pw-" + name).substr(0, 62));
    }
    for (const char* other : {"accounts-hom", "accounts-home2", "accounts", "accounts-",
                              "bccounts-home", "accounts-homE", "shor", "shorts", ""}) {
        EXPECT_FALSE(store.GetEntry(directory, kPassword, other, found)) << other;
    }
    EXPECT_FALSE(store.GetEntry(directory, kPassword, longest + "p", found));
    EXPECT_FALSE(store.GetEntry(directory, kPassword, std::string(64, 'p'), found));
    EXPECT_FALSE(store.GetEntry(directory, kPassword, std::string(70, 'p'), found));
    ASSERT_TRUE(
        store.GetEntry(directory, kPassword, std::string("accounts-work\0home", 18), found));
    EXPECT_EQ(FieldText(found.password), "pw-accounts-work");
    // A change finds its entry the same way.
    ASSERT_TRUE(store.ModifyEntry(directory, kPassword, MakePasswordEntry("xccounts-home", "new")));
    EXPECT_EQ(Entries(kPassword).at(2), "xccounts-home=new");
    EXPECT_EQ(Entries(kPassword).at(0), "accounts-home=pw-accounts-home");
}

// A list bigger than the database's cache is read from the file, not through the cache: the
// vault's file, as each change leaves it, is one that read answers for, with the library's
// bytes; and such a list reads, changes and looks up as a small one does.
TEST_F(VaultTest, AListBiggerThanTheDatabaseCacheReadsAndChangesAsAnyOther) {
    const auto readFromTheFile = [this] {
        const std::string stored = Record(VaultFile(), "pass");
        const auto length = static_cast<u_int32_t>(stored.size());
        Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
        std::string fromFile(length, '\0');
        const bool read =
            db.open(nullptr, VaultFile().c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) == 0 &&
            Ombrix::ReadOverflowValueFromFile(&db, "pass", 4, length, &fromFile[0], length);
        db.close(0);
        return read && fromFile == stored;
    };
    constexpr int kCount = 16000;  // 3.1 MB against a cache of 2.5 MiB
    WriteEntries(store, directory, kCount);
    EXPECT_TRUE(readFromTheFile());
    EntryList listed;
    store.ListEntries(listed, directory, kPassword);
    ASSERT_EQ(listed.size(), std::size_t{kCount});
    for (int i = 0; i < kCount; i += 997) {
        EXPECT_EQ(FieldText(listed[i].name), "e" + std::to_string(i));
    }
    // A lookup goes through the list read from the file in pieces.
    for (const char* name : {"e0", "e42", "e8191", "e15999"}) {
        PasswordEntry found{};
        ASSERT_TRUE(store.GetEntry(directory, kPassword, name, found)) << name;
        EXPECT_EQ(FieldText(found.password), "pw-" + std::string(name));
    }
    PasswordEntry found{};
    EXPECT_FALSE(store.GetEntry(directory, kPassword, "e16000", found));
    ASSERT_TRUE(store.AddEntry(directory, kPassword, MakePasswordEntry("added", "pw-added")));
    EXPECT_TRUE(readFromTheFile());
    ASSERT_TRUE(store.ModifyEntry(directory, kPassword, MakePasswordEntry("e6000", "changed")));
    EXPECT_TRUE(readFromTheFile());
    ASSERT_TRUE(store.DeleteEntry(directory, kPassword, MakePasswordEntry("e0", "")));
    EXPECT_TRUE(readFromTheFile());
    const Strings entries = Entries(kPassword);
    ASSERT_EQ(entries.size(), std::size_t{kCount});
    EXPECT_EQ(entries.front(), "e1=pw-e1");
    EXPECT_EQ(entries[5999], "e6000=changed");
    EXPECT_EQ(entries.back(), "added=pw-added");
}

// Which of the file's pages (of the system's page size) the kernel holds in its cache.
std::vector<bool> CachedPages(const std::string& path) {
    std::vector<bool> cached;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size == 0) {
        ADD_FAILURE() << "cannot look at " << path;
    } else {
        const auto bytes = static_cast<std::size_t>(info.st_size);
        const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        // Mapping the file reads none of it; the map only names the pages asked about.
        void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
        std::vector<unsigned char> flags((bytes + pageSize - 1) / pageSize);
        if (mapped != MAP_FAILED && ::mincore(mapped, bytes, flags.data()) == 0) {
            for (const unsigned char flag : flags) {
                cached.push_back((flag & 1) != 0);
            }
        } else {
            ADD_FAILURE() << "cannot ask which pages of " << path << " are cached";
        }
        if (mapped != MAP_FAILED) {
            ::munmap(mapped, bytes);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return cached;
}

// Whether this file system lets go of a file's cached pages once they are on disk (a file
// system in memory keeps them: they are all it has).
bool DropsSyncedPages(const std::string& probe) {
    testsupport::WriteFile(probe, std::string(64 * 1024, 'p'));
    const int fd = ::open(probe.c_str(), O_RDONLY | O_CLOEXEC);
    const bool dropped = fd >= 0 && ::fsync(fd) == 0 &&
                         ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0 &&
                         CachedPages(probe) == std::vector<bool>(16, false);
    if (fd >= 0) {
        ::close(fd);
    }
    return dropped;
}

// A list past the database's cache is read through the kernel's cached pages of the file at
// every read, and those the database wrote page by page are slow to read from. So the change
// that writes such a list leaves the pages it added beyond the copied file to be read back
// from disk, and keeps those it copied. A change of a small vault leaves every page cached.
TEST_F(VaultTest, PagesAddedPastTheDatabaseCacheAreLeftToBeReadBackFromDisk) {
    if (!DropsSyncedPages(dir.File("probe"))) {
        GTEST_SKIP() << "this file system keeps the pages of a file that is on disk";
    }
    MakeVault(kPassword, {"a", "b"});
    const std::vector<bool> small = CachedPages(VaultFile());
    EXPECT_EQ(small, std::vector<bool>(small.size(), true));
    WriteEntries(store, directory, 16000);  // 3.1 MB in one change
    const std::vector<bool> big = CachedPages(VaultFile());
    ASSERT_GT(big.size(), 4 * small.size());
    EXPECT_EQ(std::vector<bool>(big.begin(), big.begin() + small.size()),
              std::vector<bool>(small.size(), true));
    EXPECT_EQ(std::vector<bool>(big.begin() + small.size(), big.end()),
              std::vector<bool>(big.size() - small.size(), false));
    // Read back, the list is whole.
    PasswordEntry found{};
    ASSERT_TRUE(store.GetEntry(directory, kPassword, "e15999", found));
    EXPECT_EQ(FieldText(found.password), "pw-e15999");
}

// The length of the chain of overflow pages that starts at page first, in the file's bytes.
std::size_t ChainLength(const std::string& file, std::uint32_t first) {
    std::size_t length = 0;
    for (std::uint32_t page = first; page != 0 && length < file.size() / 8192;
         page = NumberAt(file, page * std::size_t{8192} + 16)) {
        ++length;
    }
    return length;
}

TEST_F(DamagedVaultTest, EntriesThatCannotBeReadAreNeverReplaced) {
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    std::string sound;
    // A list on two pages, and one bigger than the database's cache.
    for (const int count : {16000, 60}) {
        Replace("");
        WriteEntries(store, directory, count);
        RestartDevice();
        sound = VaultBytes();
        const auto stored = static_cast<std::uint32_t>(count * kEntrySize);
        std::vector<std::string> damaged = {
            WithStoredLength(sound, stored, stored + kEntrySize * 5),
            WithStoredLength(sound, stored, 0xFFFFFF00u)};
        // The first page of a chain of overflow pages (type 7 at byte 25, no previous page at
        // byte 12) that is not the picture's seven: halfway along it, the next page (at byte
        // 16) is put past the file's end.
        for (std::uint32_t page = 1; page < sound.size() / 8192; ++page) {
            const std::size_t at = page * std::size_t{8192};
            const std::size_t length = ChainLength(sound, page);
            if (sound[at + 25] == 7 && NumberAt(sound, at + 12) == 0 && length != 7) {
                std::uint32_t middle = page;
                for (std::size_t i = 0; i < (length - 1) / 2; ++i) {
                    middle = NumberAt(sound, middle * std::size_t{8192} + 16);
                }
                damaged.push_back(WithNumber(sound, middle * std::size_t{8192} + 16, 0x7fffff));
            }
        }
        ASSERT_EQ(damaged.size(), 3u);
        for (const std::string& file : damaged) {
            Replace(file);
            EntryList list(3);  // a list used before
            store.ListEntries(list, directory, kPassword);
            EXPECT_TRUE(list.empty()) << count;
            PasswordEntry entry{};
            EXPECT_FALSE(store.GetEntry(directory, kPassword, "e1", entry));
            Ombrix::Data<unsigned char> picture;
            MakePicture(picture, 2);
            EXPECT_FALSE(store.SetMasterPassword(picture, directory, "newpass9", kPassword));
            EXPECT_FALSE(store.AddEntry(directory, kPassword, MakePasswordEntry("added", "1")));
            EXPECT_FALSE(store.ModifyEntry(directory, kPassword, MakePasswordEntry("e1", "2")));
            EXPECT_FALSE(store.DeleteEntry(directory, kPassword, MakePasswordEntry("e1", "")));
            EXPECT_TRUE(VaultBytes() == file);
            EXPECT_EQ(Picture(kPassword), PictureBytes(1));
        }
    }
    // A picture that claims a few bytes more, or gigabytes.
    for (const std::uint32_t claimed : {std::uint32_t{kPictureBytes} + 16u, 0x7FFFFF00u}) {
        Replace(WithStoredLength(sound, std::uint32_t{kPictureBytes}, claimed));
        EXPECT_EQ(store.ReadPicture(directory, kPassword, nullptr, nullptr), nullptr) << claimed;
    }
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    // No room was made for a claimed length: gigabytes would show. The lists of the big vault
    // take a few megabytes each, which the address sanitizer keeps a while after they are
    // freed.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "KiB more at the peak";
}
}  // namespace
