// Shared pieces of the vault tests, and the fault-injection helper's operations.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

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

// Closing the device lets go of every vault file it holds open.
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

// The value of a record of a database file, read through a handle of its own ("<none>").
inline std::string Record(const std::string& path, std::string name) {
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    Dbt key(name.data(), name.size()), value;
    value.set_flags(DB_DBT_MALLOC);
    std::string found = "<none>";
    if (db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) == 0 &&
        db.get(nullptr, &key, &value, 0) == 0) {
        found.assign(static_cast<char*>(value.get_data()), value.get_size());
        std::free(value.get_data());
    }
    db.close(0);
    return found;
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
    // Puts content in the vault file's place (none when empty).
    void Replace(const std::string& content) {
        CloseDevice();
        ::unlink(VaultFile().c_str());
        if (!content.empty()) {
            testsupport::WriteFile(VaultFile(), content);
        }
        OpenDevice();
    }
    std::string VaultFile() const { return VaultFilePath(directory); }
    std::string VaultBytes() const { return testsupport::ReadFile(VaultFile()); }
    Strings Backups() const { return testsupport::ListFiles(dir.Path(), "ferrocask_"); }
    // A vault with the picture of seed 1 and entries "<name>=pw-<name>", then "e0", "e1"...
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
    // Each entry as "name=password".
    Strings Entries(std::string_view password) {
        Strings entries;
        store.LoadEntries(directory, password);
        for (const PasswordEntry& entry : store.m_entries) {
            entries.push_back(std::string(FieldText(entry.name)) + "=" +
                              std::string(FieldText(entry.password)));
        }
        store.m_entries.clear();
        return entries;
    }
    std::string Picture(std::string_view password) {
        const unsigned char* data = store.ReadPicture(directory, password, nullptr, nullptr);
        return data == nullptr ? ""
                               : std::string(reinterpret_cast<const char*>(data), kPictureBytes);
    }
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

// The fault-injection helper's endless run of operations, in cycles of 120 from an empty list:
// 50 additions (the list grows into one, then two overflow pages), 20 changes of a password,
// 50 deletions. Operation n depends only on n, so the entries after it are known.
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
