// The vault's readers, and a writer on top, on arbitrary "main" and "pass" values stored in a
// real database file. Beyond not crashing, each input checks what the store promises: the
// picture only for a stored value of exactly its size, every whole stored entry listed
// without its password, a name found exactly when it is listed, and an entry added,
// changed and deleted again without touching the bytes of any other entry.
//
// Input: a byte of choices, the lengths of both values, the master password, a name, and the
// bytes the values are made of (repeated to their lengths).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "framework/DbDevice.h"
#include "framework/DeviceManager.h"
#include "fuzz/FuzzInput.h"
#include "vault/VaultCipher.h"
#include "vault/VaultStore.h"

namespace {

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

// A program directory of its own with the database device registered, for the whole run.
class Scratch {
public:
    Scratch() {
        // A memory file system, where the flush after every write costs nothing.
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/ferrocask-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_directory = pattern + "/";
        Ombrix::DeviceManager::Instance().Add("/device/system/db",
                                              std::make_unique<Ombrix::DbDevice>());
    }
    ~Scratch() {
        Ombrix::DeviceManager::DestroyInstance();
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }
    const std::string& Directory() const { return m_directory; }

private:
    std::string m_directory;
};

const Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

std::unique_ptr<Ombrix::CircuitInterface> Circuit(const std::string& directory) {
    auto circuit = Ombrix::DeviceManager::Instance().GetCircuit(
        "/device/system/db", VaultFilePath(directory), 0, nullptr, nullptr);
    Require(circuit != nullptr, "the vault file opens");
    return circuit;
}

// Stores value under key, or removes the key when there is no value.
void Store(Ombrix::CircuitInterface& circuit, const char* key,
           const std::optional<std::string>& value) {
    Ombrix::DbRequest request;
    request.op = value ? Ombrix::kDbPut : Ombrix::kDbDelete;
    request.key.Append(reinterpret_cast<const unsigned char*>(key), 4);
    if (value) {
        request.value.Append(reinterpret_cast<const unsigned char*>(value->data()),
                             static_cast<int>(value->size()));
    }
    Require(circuit.Write(&request, sizeof request, nullptr) == 0, "a record can be stored");
}

std::optional<std::string> Load(Ombrix::CircuitInterface& circuit, const char* key) {
    Ombrix::DbRequest request;
    request.op = Ombrix::kDbRead;
    request.key.Append(reinterpret_cast<const unsigned char*>(key), 4);
    if (circuit.Write(&request, sizeof request, nullptr) != 0) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(request.value.m_pBuffer),
                       static_cast<std::size_t>(request.value.m_nLength));
}

bool AllZero(const char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != '\0') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& directory = TheScratch().Directory();
    fuzzing::FuzzInput input(data, size);

    // The choices: which records exist, how long they are, and whether "pass" is made of
    // readable entries (the bytes encrypted under the master password) or of raw bytes.
    const std::uint8_t choices = input.Byte();
    const bool hasPicture = choices & 1;
    const bool hasEntries = choices & 2;
    const bool encryptEntries = choices & 4;
    std::size_t pictureLength = 0;
    switch (choices >> 3 & 3) {
        case 0:
            pictureLength = kPictureBytes;
            break;
        case 1:
            pictureLength =
                static_cast<std::size_t>(kPictureBytes + static_cast<std::int8_t>(input.Byte()));
            break;
        default:
            pictureLength = input.Word();
            break;
    }
    const std::size_t entryCount = input.Byte() % 64;
    const std::size_t tail = (choices & 32) ? input.Byte() % kEntrySize : 0;
    const std::string password = input.Text(20);
    const std::string name = input.Text(80);
    const std::string material = input.Rest();

    std::optional<std::string> picture, entries;
    if (hasPicture) {
        picture = fuzzing::Repeated(material, pictureLength);
    }
    if (hasEntries) {
        entries = fuzzing::Repeated(material, entryCount * kEntrySize + tail);
        if (encryptEntries && password.size() >= 8) {
            EncryptVaultBuffer(password, reinterpret_cast<unsigned char*>(entries->data()),
                               static_cast<int>(entries->size()));
        }
    }
    {
        auto circuit = Circuit(directory);
        Store(*circuit, "main", picture);
        Store(*circuit, "pass", entries);
    }
    const bool acceptable = password.size() >= 8;

    VaultStore store;
    Require(store.VaultExists(directory) == hasPicture, "a vault exists when it has a picture");
    int width = -1, height = -1;
    const unsigned char* shown = store.ReadPicture(directory, password, &width, &height);
    const bool showable = hasPicture && pictureLength == kPictureBytes && acceptable;
    Require((shown != nullptr) == showable, "a picture only of exactly its size");
    Require(shown != nullptr ? width == 128 && height == 128 : width == -1 && height == -1,
            "the picture's size is given with the picture only");

    EntryList listed;
    store.ListEntries(listed, directory, password);
    const std::size_t whole = hasEntries && acceptable ? entryCount : 0;
    Require(listed.size() == whole, "every whole stored entry is listed");
    for (const PasswordEntry& entry : listed) {
        Require(AllZero(entry.password, sizeof entry.password), "a list holds no password");
    }

    PasswordEntry fetched = MakePasswordEntry("untouched", "untouched");
    const bool found = store.GetEntry(directory, password, name, fetched);
    bool isListed = false;
    for (const PasswordEntry& entry : listed) {
        isListed = isListed || HasName(entry, name);
    }
    Require(found == isListed, "a name is found exactly when it is listed");
    Require(found ? HasName(fetched, name) : FieldText(fetched.name) == "untouched",
            "a fetched entry carries the name asked for; otherwise nothing is changed");

    // A writer on top: an entry added, changed and deleted again.
    auto circuit = Circuit(directory);
    const std::optional<std::string> storedBefore = Load(*circuit, "pass");
    store.AddEntry(directory, password, MakePasswordEntry(name, "fuzz-added"));
    EntryList afterAdd;
    store.ListEntries(afterAdd, directory, password);
    if (!acceptable) {
        Require(Load(*circuit, "pass") == storedBefore, "a short master password writes nothing");
        return 0;
    }
    Require(afterAdd.size() == whole + 1, "an added entry is listed");
    for (std::size_t i = 0; i < whole; ++i) {
        Require(std::memcmp(afterAdd[i].name, listed[i].name, kEntryFieldSize) == 0,
                "adding keeps every other entry");
    }
    const std::string addedName(FieldText(afterAdd.back().name));
    PasswordEntry added = MakePasswordEntry("", "");
    Require(store.GetEntry(directory, password, addedName, added) &&
                FieldText(added.password) == "fuzz-added",
            "an added entry is found under the name it was given");

    store.ModifyEntry(directory, password, MakePasswordEntry(addedName, "fuzz-changed"));
    Require(store.GetEntry(directory, password, addedName, added) &&
                FieldText(added.password) == "fuzz-changed",
            "a changed entry holds its new password");

    store.DeleteEntry(directory, password, MakePasswordEntry(addedName, ""));
    const std::string before = storedBefore.value_or("");
    // A change replaces the vault file: a circuit made before it still reads the file it was
    // made on, so the result is read through a fresh one.
    const std::optional<std::string> storedAfter = Load(*Circuit(directory), "pass");
    const std::size_t kept = whole * kEntrySize;
    Require(storedAfter && storedAfter->size() == kept && before.size() >= kept &&
                before.compare(0, kept, *storedAfter) == 0,
            "adding, changing and deleting an entry leaves the others' bytes as they were");
    return 0;
}
