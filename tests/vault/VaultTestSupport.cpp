#include "vault/VaultTestSupport.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <cstdlib>

#include "vault/VaultCipher.h"

namespace vaulttest {

void MakePicture(Ombrix::Data<unsigned char>& picture, int seed, int length) {
    picture.m_nLength = 0;
    picture.Extend(length);
    for (int i = 0; i < length; ++i) {
        picture.m_pBuffer[i] = static_cast<unsigned char>((i * 7 + seed * 31 + i / 384) & 0xFF);
    }
}

Bytes AsBytes(const unsigned char* data, int length) {
    return Bytes(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
}

Bytes AsBytes(const Ombrix::Data<unsigned char>& data) {
    return AsBytes(data.m_pBuffer, data.m_nLength);
}

Records ReadRecords(const std::string& path) {
    Records records;
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    if (db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0) != 0) {
        db.close(0);
        ADD_FAILURE() << "cannot open " << path;
        return records;
    }
    Dbc* cursor = nullptr;
    db.cursor(nullptr, &cursor, 0);
    Dbt key, value;
    key.set_flags(DB_DBT_MALLOC);
    value.set_flags(DB_DBT_MALLOC);
    while (cursor->get(&key, &value, DB_NEXT) == 0) {
        records[Bytes(static_cast<char*>(key.get_data()), key.get_size())] =
            Bytes(static_cast<char*>(value.get_data()), value.get_size());
        std::free(key.get_data());
        std::free(value.get_data());
    }
    cursor->close();
    db.close(0);
    return records;
}

void WriteRecords(const std::string& path, const Records& records) {
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    ASSERT_EQ(db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_CREATE, 0664), 0);
    for (const auto& [k, v] : records) {
        Dbt key(const_cast<char*>(k.data()), k.size());
        Dbt value(const_cast<char*>(v.data()), v.size());
        ASSERT_EQ(db.put(nullptr, &key, &value, 0), 0);
    }
    db.close(0);
}

template <class Mode>
Bytes Ecb(const std::string& password, const Bytes& input) {
    const VaultKey key = DeriveVaultKey(password);
    Mode cipher(key.data(), key.size());
    Bytes output(input.size(), '\0');
    cipher.ProcessData(reinterpret_cast<CryptoPP::byte*>(output.data()),
                       reinterpret_cast<const CryptoPP::byte*>(input.data()), input.size());
    return output;
}

Bytes EcbEncrypt(const std::string& password, const Bytes& plain) {
    return Ecb<CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption>(password, plain);
}

Bytes EcbDecrypt(const std::string& password, const Bytes& cipher) {
    return Ecb<CryptoPP::ECB_Mode<CryptoPP::AES>::Decryption>(password, cipher);
}

std::vector<std::string> Names(const EntryList& entries) {
    std::vector<std::string> names;
    for (const PasswordEntry& entry : entries) {
        names.emplace_back(FieldText(entry.name));
    }
    return names;
}

void VaultTest::MakeVault(const std::string& password, const std::vector<std::string>& names) {
    Ombrix::Data<unsigned char> picture;
    MakePicture(picture, 1);
    ASSERT_TRUE(store.SetMasterPassword(picture, directory, password, std::nullopt));
    for (const std::string& name : names) {
        store.AddEntry(directory, password, MakePasswordEntry(name, "pw-" + name));
    }
}

std::vector<std::string> VaultTest::ListedNames(const std::string& password) {
    EntryList entries;
    store.ListEntries(entries, directory, password);
    return Names(entries);
}

}  // namespace vaulttest
