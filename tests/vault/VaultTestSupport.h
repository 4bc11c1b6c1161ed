// Shared pieces of the vault tests: a registered database device, a scratch program
// directory, pictures, and a reader of the vault file that goes around the vault store.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Data.h"
#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "support/TempDir.h"
#include "vault/PasswordEntry.h"
#include "vault/VaultStore.h"

namespace vaulttest {

using Bytes = std::string;
using Records = std::map<std::string, Bytes>;

// Fills picture with length bytes of a pattern that depends on seed.
void MakePicture(Ombrix::Data<unsigned char>& picture, int seed, int length = kPictureBytes);
Bytes AsBytes(const unsigned char* data, int length);
Bytes AsBytes(const Ombrix::Data<unsigned char>& data);

// Every record of a Berkeley DB file, read through a handle of its own.
Records ReadRecords(const std::string& path);
// Replaces or adds records of a database file through a handle of its own.
void WriteRecords(const std::string& path, const Records& records);

// AES-128 in ECB mode under the vault key of password, computed without the vault's cipher.
Bytes EcbEncrypt(const std::string& password, const Bytes& plain);
Bytes EcbDecrypt(const std::string& password, const Bytes& cipher);

std::vector<std::string> Names(const EntryList& entries);

class VaultTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterDevice(); }
    void TearDown() override { Ombrix::DeviceManager::DestroyInstance(); }

    static void RegisterDevice() {
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
    }
    // Closes the device's handle on the vault file (as at the end of a run) and starts a
    // fresh device, so that the file can be changed from outside and read again.
    static void RestartDevice() {
        Ombrix::DeviceManager::DestroyInstance();
        RegisterDevice();
    }

    std::string VaultFile() const { return VaultFilePath(directory); }
    // A vault with the master password, a picture of seed 1 and the named entries.
    void MakeVault(const std::string& password, const std::vector<std::string>& names = {});
    std::vector<std::string> ListedNames(const std::string& password);

    testsupport::TempDir dir;
    std::string directory = dir.Path() + "/";
    VaultStore store;
};

}  // namespace vaulttest
