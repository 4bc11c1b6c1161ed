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

void TestVault::CloseFiles() {
    Ombrix::DeviceManager::DestroyInstance();
    Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                          std::make_unique<Ombrix::DbDevice>());
}

TestVault::~TestVault() {
    Ombrix::DeviceManager::DestroyInstance();
}

void TestVault::MakePicture(Ombrix::Data<unsigned char>& picture, int seed) {
    // A sky fading to the horizon, a sun whose place depends on seed, and green ground.
    picture.m_nLength = 0;
    picture.Extend(kPictureBytes);
    const int sunX = 20 + (seed * 37) % 88;
    const int sunY = 24 + (seed * 17) % 30;
    for (int y = 0; y < kPictureSide; ++y) {
        for (int x = 0; x < kPictureSide; ++x) {
            unsigned char* bgr = picture.m_pBuffer + (y * kPictureSide + x) * 3;
            const int dx = x - sunX, dy = y - sunY;
            if (y >= 90) {
                bgr[0] = 40, bgr[1] = static_cast<unsigned char>(140 + (x + y) % 20), bgr[2] = 50;
            } else if (dx * dx + dy * dy < 150) {
                bgr[0] = 30, bgr[1] = 200, bgr[2] = 255;
            } else {
                bgr[0] = 255, bgr[1] = static_cast<unsigned char>(150 + y),
                bgr[2] = static_cast<unsigned char>(90 + y * 1.5);
            }
        }
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
    return store.GetEntry(m_directory, master, name, entry)
               ? std::optional<std::string>(FieldText(entry.password))
               : std::nullopt;
}

std::string TestVault::Kind(const std::string& master, const std::string& name) {
    PasswordEntry entry{};
    store.GetEntry(m_directory, master, name, entry);
    return std::string(FieldText(entry.kind));
}

}  // namespace testsupport
