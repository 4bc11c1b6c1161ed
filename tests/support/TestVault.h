// A vault file in a scratch program directory for the tests of the user interface, with
// the database device registered as the program's start-up registers it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/Data.h"
#include "support/TempDir.h"
#include "vault/VaultStore.h"

namespace testsupport {

class TestVault {
public:
    TestVault();
    ~TestVault();  // closes the device's handle on the vault file

    // The program directory, with its trailing '/'.
    const std::string& Directory() const { return m_directory; }
    std::string File(const std::string& name) const { return m_dir.File(name); }

    // Sets the master password with a picture made from seed, then adds the entries
    // (name, password) in order.
    void Create(const std::string& master, int pictureSeed,
                const std::vector<std::pair<std::string, std::string>>& entries = {});
    // The picture block that Create stores for a seed.
    static void MakePicture(Ombrix::Data<unsigned char>& picture, int seed);

    std::vector<std::string> Names(const std::string& master);
    // The stored password, or nothing when there is no entry of that name.
    std::optional<std::string> Password(const std::string& master, const std::string& name);
    std::string Kind(const std::string& master, const std::string& name);

    // Lets go of the vault file so that another process can use it; the next call of this
    // object opens it again.
    void CloseFiles();

    VaultStore store;

private:
    TempDir m_dir;
    std::string m_directory = m_dir.Path() + "/";
};

}  // namespace testsupport
