// The read of a big value straight from a database file, on files shaped and then damaged by
// the input. The file is written through Berkeley DB first: values under a few keys are put,
// replaced and deleted in the order the input gives, so that their chains of overflow pages
// run forwards, backwards and about the file. Then bytes of it are overwritten.
// Whatever the file holds, the read must not crash or hang. On a sound file it must answer,
// with the library's bytes. On a damaged one it may decline; when it answers, the library
// reading the same file must give the same bytes. The library does not survive every damage
// to its tree pages, so on those it reads in a child process, and only a read it finishes
// counts.
//
// Input: the page size; up to 8 operations (key, length in pages, length past that, pattern
// byte); up to 8 patches (page, offset in it, byte); the share of the value to read.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "framework/DbFileRead.h"
#include "fuzz/FuzzInput.h"

namespace {

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

const std::string& FilePath() {
    static const std::string path = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(base) + "/ferrocask-fuzz-read-" + std::to_string(::getpid()) + ".db";
    }();
    return path;
}

struct Database {
    explicit Database(u_int32_t pageSize) : db(nullptr, DB_CXX_NO_EXCEPTIONS) {
        if (pageSize != 0) {
            db.set_pagesize(pageSize);
        }
        db.set_cachesize(0, 64 * 1024, 0);
        opened = db.open(nullptr, FilePath().c_str(), nullptr, DB_BTREE, DB_CREATE, 0600) == 0;
    }
    ~Database() { db.close(0); }
    Db db;
    bool opened = false;
};

// The library's read of the first length bytes of key's value; nothing when it fails.
bool LibraryRead(Db& db, const std::string& key, std::string& value, u_int32_t length) {
    Dbt k(const_cast<char*>(key.data()), static_cast<u_int32_t>(key.size()));
    value.assign(length, '\0');
    Dbt v(&value[0], length);
    v.set_ulen(length);
    v.set_flags(DB_DBT_USERMEM | DB_DBT_PARTIAL);
    v.set_doff(0);
    v.set_dlen(length);
    return db.get(nullptr, &k, &v, 0) == 0 && v.get_size() == length;
}

// The library's read as above, made in a child process that may crash or hang on a damaged
// tree: nothing unless it finished.
std::optional<std::string> LibraryReadInChild(Db& db, const std::string& key, u_int32_t length) {
    int pipeEnds[2];
    Require(::pipe(pipeEnds) == 0, "a pipe is made");
    const pid_t child = ::fork();
    Require(child >= 0, "a child is started");
    if (child == 0) {
        ::close(pipeEnds[0]);
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDERR_FILENO);
        ::alarm(5);
        std::string value;
        if (LibraryRead(db, key, value, length)) {
            for (std::size_t done = 0; done < value.size();) {
                const ssize_t wrote =
                    ::write(pipeEnds[1], value.data() + done, value.size() - done);
                if (wrote <= 0) {
                    ::_exit(2);
                }
                done += static_cast<std::size_t>(wrote);
            }
            ::_exit(0);
        }
        ::_exit(1);
    }
    ::close(pipeEnds[1]);
    std::string value;
    char chunk[65536];
    for (ssize_t got; (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
        value.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || value.size() != length) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput input(data, size);
    static const u_int32_t kPageSizes[] = {512, 1024, 4096, 8192};
    const u_int32_t pageSize = kPageSizes[input.Byte() % 4];
    const std::string keys[] = {"pass", "main", "side"};
    ::unlink(FilePath().c_str());

    // The file, written through the library.
    std::string value;  // what "pass" holds at the end
    {
        Database file(pageSize);
        Require(file.opened, "a new file opens");
        const int operations = 1 + input.Byte() % 8;
        for (int i = 0; i < operations; ++i) {
            const std::uint8_t which = input.Byte();
            const std::string& key = keys[which % 3];
            const std::size_t length = (input.Byte() % 48) * pageSize + input.Word() % pageSize;
            const std::string bytes = fuzzing::Repeated(input.Bytes(1) + "x", length);
            Dbt k(const_cast<char*>(key.data()), static_cast<u_int32_t>(key.size()));
            if (which & 0x80) {
                file.db.del(nullptr, &k, 0);
            } else {
                Dbt v(const_cast<char*>(bytes.data()), static_cast<u_int32_t>(bytes.size()));
                Require(file.db.put(nullptr, &k, &v, 0) == 0, "a value is stored");
            }
            if (key == "pass") {
                value = (which & 0x80) ? std::string() : bytes;
            }
        }
    }

    // The damage: bytes overwritten anywhere but in the first page, which the library checks
    // when it opens the file.
    const std::uintmax_t pages = std::filesystem::file_size(FilePath()) / pageSize;
    const int patches = input.Byte() % 9;
    bool treeDamaged = false;
    const int fd = ::open(FilePath().c_str(), O_RDWR);
    Require(fd >= 0, "the file opens for the damage");
    for (int i = 0; i < patches && pages > 1; ++i) {
        const std::uintmax_t page = 1 + input.Word() % (pages - 1);
        const std::uintmax_t at = page * pageSize + input.Word() % pageSize;
        unsigned char type = 0;
        Require(::pread(fd, &type, 1, static_cast<off_t>(page * pageSize + 25)) == 1,
                "the page's type is read");
        treeDamaged = treeDamaged || type != 7;  // only overflow pages are type 7
        const std::uint8_t byte = input.Byte();
        Require(::pwrite(fd, &byte, 1, static_cast<off_t>(at)) == 1, "the damage is written");
    }
    ::close(fd);

    const auto stored = static_cast<u_int32_t>(value.size());
    const auto length = static_cast<u_int32_t>(
        stored == 0 ? 0 : 1 + static_cast<std::uint64_t>(input.Byte()) * (stored - 1) / 255);
    Database file(0);
    if (!file.opened) {
        return 0;
    }
    std::string fromFile(length, '\0');
    const bool answered = Ombrix::ReadOverflowValueFromFile(
        &file.db, "pass", 4, stored, length == 0 ? nullptr : &fromFile[0], length);
    // Read in pieces of a few pages, the same bytes, or a decline as well.
    const std::size_t piecePages = 1 + input.Byte() % 8;
    std::string pieced;
    const bool answeredInPieces = Ombrix::ReadOverflowValueFromFileInPieces(
        &file.db, "pass", 4, stored, length, piecePages,
        [&pieced](const unsigned char* piece, std::size_t bytes) {
            pieced.append(reinterpret_cast<const char*>(piece), bytes);
        });
    Require(answeredInPieces == answered, "the read in pieces answers as the whole read");
    Require(!answered || pieced == fromFile, "the pieces make the value the whole read gives");
    // A value of more than a page's worth lies on overflow pages.
    if (patches == 0 && stored > pageSize) {
        Require(answered, "a sound chain is read");
        Require(fromFile == value.substr(0, length), "a sound chain reads as it was written");
    }
    if (answered && !treeDamaged) {
        std::string fromLibrary;
        Require(LibraryRead(file.db, "pass", fromLibrary, length), "the library reads it too");
        Require(fromFile == fromLibrary, "an answer is what the library reads");
    } else if (answered) {
        const std::optional<std::string> fromLibrary = LibraryReadInChild(file.db, "pass", length);
        Require(!fromLibrary || fromFile == *fromLibrary, "an answer is what the library reads");
    }
    return 0;
}
