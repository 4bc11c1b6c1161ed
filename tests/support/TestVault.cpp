#include "support/TestVault.h"

#include <gtest/gtest.h>

#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "vault/PasswordEntry.h"

namespace testsupport {

TestVault::TestVault() {
    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
}

TestVault::~TestVault() {
    Ombrix::DeviceManager::DestroyInstance();
}

void TestVault::MakePicture(Ombrix::Data<unsigned char>& picture, int seed) {
    picture.m_nLength = 0;
    picture.Extend(kPictureBytes);
    for (int i = 0; i < kPictureBytes; ++i) {
        picture.m_pBuffer[i] = static_cast<unsigned char>((i * 7 + seed * 31 + i / 384) & 0xFF);
    }
}

void TestVault::Create(const std::string& master, int pictureSeed,
                       const std::vector<std::pair<std::string, std::string>>& entries) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, pictureSeed);
    ASSERT_TRUE(store.SetMasterPassword(picture, m_directory, master, std::nullopt));
    for (const auto& [name, password] : entries) {
        store.AddEntry(m_directory, master, MakePasswordEntry(name, password));
    }
}

std::vector<std::string> TestVault::Names(const std::string& master) {
    EntryList entries;
    store.ListEntries(entries, m_directory, master);
    std::vector<std::string> names;
    for (const PasswordEntry& entry : entries) {
        names.emplace_back(FieldText(entry.name));
    }
    return names;
}

std::optional<std::string> TestVault::Password(const std::string& master, const std::string& name) {
    PasswordEntry entry{};
    if (!store.GetEntry(m_directory, master, name, entry)) {
        return std::nullopt;
    }
    return std::string(FieldText(entry.password));
}

std::string TestVault::Kind(const std::string& master, const std::string& name) {
    PasswordEntry entry{};
    store.GetEntry(m_directory, master, name, entry);
    return std::string(FieldText(entry.kind));
}

}  // namespace testsupport
