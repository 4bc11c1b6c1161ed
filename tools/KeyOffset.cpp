// ferrocask-keyoffset: tells which key offset the build that made a vault file used, from the
// vault's master password, and how to build the program with that offset so that it reads
// the vault.
//
//   ferrocask-keyoffset <vault file or program folder>
//
// The master password is read from the terminal without echo, or as one line of standard
// input when that is no terminal. The file is opened read-only and never written.
//
// A master password of 8 to 15 bytes is repeated into the 16-byte key with the offset added
// to the repetition, so each of the 256 offsets gives another key. The right one is known by
// the first entry, whose kind field decrypts to "normal" followed by zero bytes; a vault
// without entries only has its picture, which decrypts to a smooth image under the right
// offset and to noise under every other.
//
// Exit status: 0 an offset was found (or none is needed), 1 no offset fits the password,
// 2 a usage error or a file that cannot be read as a vault.

#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <db_cxx.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "framework/SecretString.h"
#include "framework/WipingAllocator.h"
#include "vault/PasswordEntry.h"
#include "vault/VaultCipher.h"
#include "vault/VaultStore.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNoFit = 1;
constexpr int kExitUnusable = 2;
constexpr int kOffsetCount = 256;

// Decrypted vault content is wiped when released, like everything the program decrypts.
using Bytes = std::vector<unsigned char, Ombrix::WipingAllocator<unsigned char>>;

// The two records of a vault as they are stored (encrypted).
struct StoredVault {
    std::vector<unsigned char> picture;
    std::vector<unsigned char> entries;  // only whole 192-byte entries count
    std::size_t EntryCount() const { return entries.size() / kEntrySize; }
};

// The terminal's settings while echo is off, put back on the way out, a signal included.
termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;

void RestoreEcho() {
    if (g_echoOff) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_echoOff = 0;
    }
}

void RestoreEchoAndDie(int signal) {
    RestoreEcho();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// One line of standard input without its line feed; echo is off while it is typed on a
// terminal. False when standard input ended before anything was read.
bool ReadPassword(Ombrix::SecretString& password) {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    if (terminal && ::tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            ::signal(signal, RestoreEchoAndDie);
        }
        termios quiet = g_savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;  // the Enter key still moves to the next line
        std::fputs("Master password: ", stderr);
        std::fflush(stderr);
        g_echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    bool readAny = false;
    for (char c;;) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        readAny = true;
        if (c == '\n') {
            break;
        }
        password.push_back(c);
    }
    RestoreEcho();
    return readAny;
}

// The value under key, or nothing when the record is missing; a read error is reported
// through *error.
std::optional<std::vector<unsigned char>> ReadRecord(Db& db, const char* name, int* error) {
    Dbt key(const_cast<char*>(name), static_cast<u_int32_t>(std::strlen(name)));
    Dbt value;
    value.set_flags(DB_DBT_MALLOC);
    const int result = db.get(nullptr, &key, &value, 0);
    if (result == DB_NOTFOUND) {
        return std::nullopt;
    }
    if (result != 0) {
        *error = result;
        return std::nullopt;
    }
    const auto* bytes = static_cast<const unsigned char*>(value.get_data());
    std::vector<unsigned char> record(bytes, bytes + value.get_size());
    std::free(value.get_data());
    return record;
}

// Reads both records through a read-only handle of this tool's own; an explanation in
// *problem when the file is no vault that can be read.
std::optional<StoredVault> ReadVault(const std::string& path, std::string* problem) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *problem = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    db.set_errpfx("ferrocask-keyoffset");  // the database library's own account goes first
    const int result = db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0);
    if (result != 0) {
        db.close(0);
        *problem = path + " cannot be read as a vault: " + DbEnv::strerror(result);
        if (result == EINVAL) {
            *problem += " (no database file, or a damaged one)";
        } else if (result == DB_OLD_VERSION) {
            *problem += " (open it once with the program, which upgrades it)";
        }
        return std::nullopt;
    }
    int error = 0;
    std::optional<std::vector<unsigned char>> picture = ReadRecord(db, "main", &error);
    std::optional<std::vector<unsigned char>> entries = ReadRecord(db, "pass", &error);
    db.close(0);
    if (error != 0) {
        *problem = "cannot read the records of " + path + ": " + DbEnv::strerror(error);
        return std::nullopt;
    }
    if (!picture) {
        *problem = path + " holds no vault (it has no picture record)";
        return std::nullopt;
    }
    StoredVault vault;
    vault.picture = std::move(*picture);
    if (entries) {
        vault.entries = std::move(*entries);
        vault.entries.resize(vault.EntryCount() * kEntrySize);
    }
    return vault;
}

// Whether the first stored entry's kind field decrypts, under the password and offset, to
// "normal" followed by zero bytes, as the program stores every entry. The field lies on
// whole cipher blocks, so it is decrypted on its own.
bool KindFieldReadsNormal(const StoredVault& vault, std::string_view password,
                          unsigned char offset) {
    static_assert(kEntryFieldSize % kVaultBlockSize == 0, "the kind field is whole blocks");
    Bytes kind(vault.entries.begin() + kEntryFieldSize,
               vault.entries.begin() + 2 * kEntryFieldSize);
    DecryptVaultBuffer(password, kind.data(), static_cast<int>(kind.size()), offset);
    Bytes expected(kEntryFieldSize, 0);
    std::memcpy(expected.data(), "normal", 6);
    return kind == expected;
}

// How rough the picture decrypted under the password and offset is: the mean absolute
// difference between each byte and its right and lower neighbours of the same colour. A
// photo changes little from pixel to pixel; bytes that decrypted to noise differ by about
// 85 on average.
double Roughness(const StoredVault& vault, std::string_view password, unsigned char offset) {
    Bytes picture(vault.picture.begin(), vault.picture.end());
    DecryptVaultBuffer(password, picture.data(), kPictureBytes, offset);
    constexpr int kRow = kPictureSide * 3;
    long total = 0;
    long pairs = 0;
    for (int y = 0; y < kPictureSide; ++y) {
        for (int x = 0; x < kRow; ++x) {
            const int here = picture[y * kRow + x];
            if (x + 3 < kRow) {
                total += std::abs(here - picture[y * kRow + x + 3]);
                ++pairs;
            }
            if (y + 1 < kPictureSide) {
                total += std::abs(here - picture[(y + 1) * kRow + x]);
                ++pairs;
            }
        }
    }
    return static_cast<double>(total) / static_cast<double>(pairs);
}

void PrintBuildCommand(int offset) {
    if (offset == kVaultKeyOffset) {
        std::printf("This build uses offset %d too: it reads the vault as it is.\n", offset);
    } else {
        std::printf("This build uses offset %d: it shows this vault's picture scrambled.\n",
                    kVaultKeyOffset);
    }
    std::printf("To read the vault, build the program with offset %d:\n", offset);
    std::printf("  make run FERROCASK_KEY_OFFSET=%d\n", offset);
    std::printf("or configure CMake with -DFERROCASK_KEY_OFFSET=%d\n", offset);
}

int ReportLongPassword(const StoredVault& vault, std::string_view password) {
    std::printf(
        "The password has %zu bytes: the key is its first 16 bytes, and the offset plays no "
        "part. Every build reads this vault with it alike.\n",
        password.size());
    if (vault.EntryCount() == 0) {
        std::printf(
            "The vault holds no entries, so the password cannot be checked beyond that: open "
            "the vault in the program and see whether it shows your picture.\n");
        return kExitFound;
    }
    if (KindFieldReadsNormal(vault, password, kVaultKeyOffset)) {
        std::printf(
            "The password opens the vault: its first entry decrypts as the program "
            "stores entries.\n");
        return kExitFound;
    }
    std::printf("The password does not open the vault: its first entry decrypts to noise.\n");
    return kExitNoFit;
}

int ReportFromEntries(const StoredVault& vault, std::string_view password) {
    for (int offset = 0; offset < kOffsetCount; ++offset) {
        if (KindFieldReadsNormal(vault, password, static_cast<unsigned char>(offset))) {
            std::printf(
                "Offset %d fits: under it the first entry's kind field reads "
                "\"normal\", as the program stores it; under no other offset does it.\n",
                offset);
            PrintBuildCommand(offset);
            return kExitFound;
        }
    }
    std::printf(
        "No offset fits: under none of the 256 does the first entry decrypt as the "
        "program stores entries. The password is wrong.\n");
    return kExitNoFit;
}

int ReportFromPicture(const StoredVault& vault, std::string_view password) {
    if (vault.picture.size() != static_cast<std::size_t>(kPictureBytes)) {
        std::fprintf(stderr,
                     "ferrocask-keyoffset: the vault holds no entries and its picture record is "
                     "damaged (%zu bytes instead of %d): nothing to tell the offset by.\n",
                     vault.picture.size(), kPictureBytes);
        return kExitUnusable;
    }
    std::printf(
        "The vault holds no entries: the offset is told by its picture, which is "
        "smooth under the right offset and noise under every other.\n");
    std::array<double, kOffsetCount> roughness{};
    for (int offset = 0; offset < kOffsetCount; ++offset) {
        roughness[offset] = Roughness(vault, password, static_cast<unsigned char>(offset));
    }
    std::array<int, kOffsetCount> order{};
    for (int i = 0; i < kOffsetCount; ++i) {
        order[i] = i;
    }
    std::partial_sort(order.begin(), order.begin() + 2, order.end(),
                      [&](int a, int b) { return roughness[a] < roughness[b]; });
    const int best = order[0];
    const int runnerUp = order[1];
    // How many times rougher the second smoothest picture is than the smoothest.
    const double ratio = roughness[best] > 0 ? roughness[runnerUp] / roughness[best] : 1e9;
    std::printf(
        "Smoothest picture: offset %d, mean neighbour difference %.1f; next: offset %d, "
        "%.1f (%.2f times as rough).\n",
        best, roughness[best], runnerUp, roughness[runnerUp], ratio);
    // Between decryptions to noise the scores differ by well under 5 %.
    if (ratio < 1.05) {
        std::printf(
            "No offset fits: every offset decrypts the picture to much the same noise. "
            "The password is wrong (or the picture itself is noise).\n");
        return kExitNoFit;
    }
    const char* verdict = ratio >= 2.0 ? "certain: every other offset gives noise"
                          : ratio >= 1.25
                              ? "likely: no other offset comes close"
                              : "doubtful: open the vault with this offset and check the picture";
    std::printf("Offset %d fits, by the picture; how sure: %s.\n", best, verdict);
    PrintBuildCommand(best);
    return kExitFound;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0' || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(stderr,
                     "usage: ferrocask-keyoffset <vault file or program folder>\n"
                     "Finds the key offset of the build that made the vault, from its master "
                     "password\n(typed without echo, or one line on standard input). The file "
                     "is only read.\n");
        return kExitUnusable;
    }
    std::string path = argv[1];
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        path = VaultFilePath(path.back() == '/' ? path : path + "/");
    }
    std::string problem;
    const std::optional<StoredVault> vault = ReadVault(path, &problem);
    if (!vault) {
        std::fprintf(stderr, "ferrocask-keyoffset: %s\n", problem.c_str());
        return kExitUnusable;
    }

    Ombrix::SecretString typed;
    if (!ReadPassword(typed)) {
        std::fprintf(stderr, "ferrocask-keyoffset: no master password given\n");
        return kExitUnusable;
    }
    // A line typed or saved on Windows ends in CR LF.
    std::string_view password = typed.view();
    if (!password.empty() && password.back() == '\r') {
        password.remove_suffix(1);
    }
    std::printf("Vault %s: picture of %zu bytes, %zu entries.\n", path.c_str(),
                vault->picture.size(), vault->EntryCount());
    const std::size_t length = password.size();
    if (length < static_cast<std::size_t>(kMinMasterPasswordLength)) {
        std::printf(
            "The password has %zu bytes: every build refuses master passwords shorter "
            "than %d bytes, so it cannot be this vault's.\n",
            length, kMinMasterPasswordLength);
        return kExitNoFit;
    }
    if (length >= static_cast<std::size_t>(kVaultKeySize)) {
        return ReportLongPassword(*vault, password);
    }
    const std::size_t shifted = kVaultKeySize - length;
    std::printf(
        "The password has %zu bytes: the offset is added to the last %zu byte%s of the "
        "key, so each of the 256 offsets gives another key.\n",
        length, shifted, shifted == 1 ? "" : "s");
    return vault->EntryCount() > 0 ? ReportFromEntries(*vault, password)
                                   : ReportFromPicture(*vault, password);
}
