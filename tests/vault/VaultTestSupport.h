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

// Registers the database device; closing it lets go of every vault file it holds open, so
// that the file can be changed from outside or used by another process alone.
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

// prefix0, prefix1, ... up to count - 1.
inline std::vector<std::string> Numbered(const std::string& prefix, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(prefix + std::to_string(i));
    }
    return names;
}

inline std::string AsBytes(const unsigned char* data, int length = kPictureBytes) {
    return data == nullptr ? "" : std::string(reinterpret_cast<const char*>(data), length);
}

// Each entry as "name=password", in stored order.
inline std::vector<std::string> Entries(VaultStore& vault, const std::string& directory,
                                        std::string_view password) {
    std::vector<std::string> entries;
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
        for (key.set_flags(DB_DBT_REALLOC), value.set_flags(DB_DBT_REALLOC);
             cursor->get(&key, &value, DB_NEXT) == 0;) {
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
    // A vault under password with a picture of seed 1 and entries "<name>=pw-<name>".
    void MakeVault(const std::string& password, const std::vector<std::string>& names = {}) {
        Ombrix::Data<unsigned char> picture;
        MakePicture(picture, 1);
        ASSERT_TRUE(store.SetMasterPassword(picture, directory, password, std::nullopt));
        for (const std::string& name : names) {
            store.AddEntry(directory, password, MakePasswordEntry(name, "pw-" + name));
        }
    }
    std::vector<std::string> Entries(std::string_view password) {
        return vaulttest::Entries(store, directory, password);
    }
    std::string PasswordOf(const std::string& password, const std::string& name) {
        PasswordEntry entry = MakePasswordEntry("<none>", "<none>");
        store.GetEntry(directory, password, name, entry);
        return std::string(FieldText(entry.password));
    }
    std::string Picture(std::string_view password) {
        return AsBytes(store.ReadPicture(directory, password, nullptr, nullptr));
    }
    // Whether the database library's verifier accepts the vault file; the device is closed
    // for it and open afterwards.
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
