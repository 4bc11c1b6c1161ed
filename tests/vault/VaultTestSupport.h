// Shared pieces of the vault tests: the database device, a scratch program directory,
// pictures, and readers of the vault file that go around the vault store.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "vault/VaultStore.h"

namespace vaulttest {

using Records = std::map<std::string, std::string>;
using Strings = std::vector<std::string>;

// Closing the device lets go of every vault file it holds open, so that another process or
// the test itself can change the file.
inline void OpenDevice() {
    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
}
inline void CloseDevice() {
    Ombrix::DeviceManager::DestroyInstance();
}

inline void MakePicture(Ombrix::Data<unsigned char>& picture, int seed,
                        int length = kPictureBytes) {
    picture.m_nLength = 0;
    picture.Extend(length);
    for (int i = 0; i < length; ++i) {
        picture.m_pBuffer[i] = static_cast<unsigned char>(i * 7 + seed * 31 + i / 384);
    }
}

inline std::string PictureBytes(int seed) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, seed);
    return std::string(reinterpret_cast<const char*>(picture.m_pBuffer), kPictureBytes);
}

// Each entry as "name=password", in stored order.
inline Strings Entries(VaultStore& vault, const std::string& directory, std::string_view password) {
    Strings entries;
    vault.LoadEntries(directory, password);
    for (const PasswordEntry& entry : vault.m_entries) {
        entries.push_back(std::string(FieldText(entry.name)) + "=" +
                          std::string(FieldText(entry.password)));
    }
    vault.m_entries.clear();
    return entries;
}

// Every record of a database file, through a handle of its own.
inline Records ReadRecords(const std::string& path) {
    Records records;
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    Dbc* cursor = nullptr;
    if (db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) == 0 &&
        db.cursor(nullptr, &cursor, 0) == 0) {
        Dbt key, value;
        key.set_flags(DB_DBT_REALLOC);
        value.set_flags(DB_DBT_REALLOC);
        while (cursor->get(&key, &value, DB_NEXT) == 0) {
            records[std::string(static_cast<char*>(key.get_data()), key.get_size())] =
                std::string(static_cast<char*>(value.get_data()), value.get_size());
        }
        std::free(key.get_data());
        std::free(value.get_data());
        cursor->close();
    }
    db.close(0);
    return records;
}

inline void WriteRecords(const std::string& path, const Records& records) {
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    ASSERT_EQ(db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_CREATE, 0664), 0);
    for (const auto& [k, v] : records) {
        Dbt key(const_cast<char*>(k.data()), k.size()),
            value(const_cast<char*>(v.data()), v.size());
        ASSERT_EQ(db.put(nullptr, &key, &value, 0), 0);
    }
    db.close(0);
}

class VaultTest : public ::testing::Test {
protected:
    void SetUp() override { OpenDevice(); }
    void TearDown() override { CloseDevice(); }
    void RestartDevice() {
        CloseDevice();
        OpenDevice();
    }
    std::string VaultFile() const { return VaultFilePath(directory); }
    std::string VaultBytes() const { return testsupport::ReadFile(VaultFile()); }
    Strings Backups() const { return testsupport::ListFiles(dir.Path(), "ferrocask_"); }
    // A vault with the picture of seed 1 and entries "<name>=pw-<name>", then as many more
    // named "e0", "e1" and so on.
    void MakeVault(const std::string& password, Strings names = {}, int more = 0) {
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        ASSERT_TRUE(store.SetMasterPassword(picture, directory, password, std::nullopt));
        for (int i = 0; i < more; ++i) {
            names.push_back("e" + std::to_string(i));
        }
        for (const std::string& name : names) {
            store.AddEntry(directory, password, MakePasswordEntry(name, "pw-" + name));
        }
    }
    Strings Entries(std::string_view password) {
        return vaulttest::Entries(store, directory, password);
    }
    std::string Picture(std::string_view password) {
        const unsigned char* data = store.ReadPicture(directory, password, nullptr, nullptr);
        return data == nullptr ? ""
                               : std::string(reinterpret_cast<const char*>(data), kPictureBytes);
    }
    // Whether the database library's verifier accepts the vault file; the device is open
    // afterwards.
    bool Verified() {
        CloseDevice();
        const bool good = testsupport::RunCommand({"db5.3_verify", "-q", VaultFile()}) == 0;
        OpenDevice();
        return good;
    }
    testsupport::TempDir dir;
    std::string directory = dir.Path() + "/";
    VaultStore store;
};

}  // namespace vaulttest

// The endless, repeatable run of vault operations of the fault-injection helper: operation n
// (counted from 1) depends only on n, so the entries the vault must hold after any operation
// are known without the vault. Each cycle of 120 operations starts from an empty list: 50
// additions (the list grows from the tree's page into one and then two overflow pages), 20
// changes of a password, then 50 deletions.
namespace faultmodel {

constexpr char kMasterPassword[] = "fault-run-7";
constexpr char kNewMasterPassword[] = "fault-new-8";
constexpr int kCycle = 120, kAdditions = 50, kChanges = 20;

// Applies operation n to the entries ("name=password", in stored order) and tells its kind
// ('a'dd, 'm'odify or 'd'elete) and the entry it gives.
inline char Apply(int n, vaulttest::Strings& list, PasswordEntry& entry) {
    const int phase = (n - 1) % kCycle;
    const std::string password = "pw-" + std::to_string(n);
    if (phase < kAdditions) {
        list.push_back("entry-" + std::to_string(phase) + "=" + password);
        entry = MakePasswordEntry("entry-" + std::to_string(phase), password);
        return 'a';
    }
    const bool change = phase < kAdditions + kChanges;
    const auto at = list.begin() + (change ? n * 7u : n * 13u) % list.size();
    entry = MakePasswordEntry(at->substr(0, at->find('=')), change ? password : "");
    if (change) {
        *at = std::string(FieldText(entry.name)) + "=" + password;
        return 'm';
    }
    list.erase(at);
    return 'd';
}

// The entries after operations 1 to n.
inline vaulttest::Strings StateAfter(int n) {
    vaulttest::Strings list;
    PasswordEntry entry;
    for (int done = n - n % kCycle; done < n; ++done) {
        Apply(done + 1, list, entry);
    }
    return list;
}

// Runs operation n through the vault store, on a vault that holds the state after n - 1.
inline void RunOperation(int n, VaultStore& store, const std::string& directory) {
    vaulttest::Strings list = StateAfter(n - 1);
    PasswordEntry entry;
    const char kind = Apply(n, list, entry);
    kind == 'a'   ? store.AddEntry(directory, kMasterPassword, entry)
    : kind == 'm' ? store.ModifyEntry(directory, kMasterPassword, entry)
                  : store.DeleteEntry(directory, kMasterPassword, entry);
}

}  // namespace faultmodel
