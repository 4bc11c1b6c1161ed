#include "framework/DbFileRead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/TempDir.h"

using Ombrix::ReadOverflowValueFromFile;
using Ombrix::ReadOverflowValueFromFileInPieces;

namespace {

constexpr u_int32_t kPageSize = 8192;
constexpr u_int32_t kPerPage = kPageSize - 26;

std::string Value(std::size_t length, int seed) {
    std::string value(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        value[i] = static_cast<char>(i * 7 + i / 8191 + seed);
    }
    return value;
}

class DbFileReadTest : public ::testing::Test {
protected:
    void TearDown() override { Close(); }

    Db* Open(const std::string& name, u_int32_t flags = 0, int byteOrder = 0) {
        Close();
        m_db = std::make_unique<Db>(nullptr, DB_CXX_NO_EXCEPTIONS);
        m_db->set_pagesize(kPageSize);
        m_db->set_cachesize(0, 256 * 1024, 0);
        if (flags != 0) {
            m_db->set_flags(flags);
        }
        if (byteOrder != 0) {
            m_db->set_lorder(byteOrder);
        }
        path = dir.File(name);
        EXPECT_EQ(m_db->open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_CREATE | DB_THREAD, 0600),
                  0);
        return m_db.get();
    }
    void Close() {
        if (m_db) {
            m_db->close(0);
            m_db.reset();
        }
    }
    void Put(const std::string& key, const std::string& value) {
        Dbt k(const_cast<char*>(key.data()), static_cast<u_int32_t>(key.size()));
        Dbt v(const_cast<char*>(value.data()), static_cast<u_int32_t>(value.size()));
        ASSERT_EQ(m_db->put(nullptr, &k, &v, 0), 0);
    }
    // The read from the file of the first length bytes; nothing when it declines. The same
    // read in pieces, of one page and of a few (fewer than the stretches the whole read
    // reaches), must give the same bytes, or decline as well.
    std::optional<std::string> FromFile(const std::string& key, u_int32_t stored,
                                        u_int32_t length) {
        std::string buffer(length, '\x5A');
        const bool read = ReadOverflowValueFromFile(m_db.get(), key.data(), key.size(), stored,
                                                    &buffer[0], length);
        for (const std::size_t piecePages : {1, 5}) {
            std::string pieced;
            std::size_t largest = 0;
            const bool readInPieces = ReadOverflowValueFromFileInPieces(
                m_db.get(), key.data(), key.size(), stored, length, piecePages,
                [&](const unsigned char* piece, std::size_t bytes) {
                    pieced.append(reinterpret_cast<const char*>(piece), bytes);
                    largest = std::max(largest, bytes);
                });
            EXPECT_EQ(readInPieces, read) << piecePages << "-page pieces of " << key;
            if (read && readInPieces) {
                EXPECT_TRUE(pieced == buffer) << piecePages << "-page pieces of " << key;
                EXPECT_LE(largest, piecePages * kPerPage);
            }
        }
        if (!read) {
            return std::nullopt;
        }
        return buffer;
    }
    // Overwrites bytes of the closed file at the given offset.
    static void Patch(const std::string& file, std::uint64_t at, const std::string& bytes) {
        const int fd = ::open(file.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
                  static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }
    // The page numbers of the chain that begins at the first overflow page whose value is
    // that long, read from the closed file.
    std::vector<std::uint32_t> ChainOf(std::size_t length) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        std::vector<std::uint32_t> chain;
        unsigned char header[26];
        for (std::uint32_t page = 1; ::pread(fd, header, 26, off_t{page} * kPageSize) == 26;
             ++page) {
            std::uint32_t previous = 0;
            std::memcpy(&previous, header + 12, 4);
            if (header[25] != 7 || previous != 0) {
                continue;
            }
            chain.clear();
            std::size_t bytes = 0;
            for (std::uint32_t at = page; at != 0; std::memcpy(&at, header + 16, 4)) {
                chain.push_back(at);
                ::pread(fd, header, 26, off_t{at} * kPageSize);
                std::uint16_t held = 0;
                std::memcpy(&held, header + 22, 2);
                bytes += held;
            }
            if (bytes == length) {
                break;
            }
            chain.clear();
        }
        ::close(fd);
        return chain;
    }

    testsupport::TempDir dir;
    std::string path;
    std::unique_ptr<Db> m_db;
};

// Big values written, rewritten larger and smaller and moved about by their neighbours lie
// on chains that run forwards, backwards and jump about the file; in a tree of several
// levels. Every read from the file gives what the library gives, whole or cut anywhere,
// also straight after a write the handle has not flushed.
TEST_F(DbFileReadTest, ReadsWhatTheLibraryReadsWhereverTheChainLies) {
    Db* db = Open("chains.db");
    for (int i = 0; i < 3000; ++i) {  // enough small records for internal pages
        Put("k" + std::to_string(100000 + i), Value(90, i));
    }
    const std::vector<std::size_t> sizes = {40 * kPerPage, 90 * kPerPage + 17, 600 * kPerPage - 1,
                                            35 * kPerPage + 1, 300 * kPerPage};
    int seed = 0;
    for (const std::size_t size : sizes) {
        ++seed;
        Put("side", Value(size / 3 + 100, -seed));  // takes and frees pages in between
        const std::string value = Value(size, seed);
        Put("pass", value);
        const auto stored = static_cast<u_int32_t>(size);
        for (const u_int32_t length :
             {stored, stored - 1, kPerPage, kPerPage + 1, 1u, 3 * kPerPage - 5}) {
            EXPECT_TRUE(FromFile("pass", stored, length) == value.substr(0, length))
                << "size " << size << ", length " << length;
        }
        EXPECT_TRUE(FromFile("side", size / 3 + 100, size / 3 + 100) ==
                    Value(size / 3 + 100, -seed));
    }
    ASSERT_EQ(db->sync(0), 0);
    // Not flushed by the writer: the read flushes it first.
    const std::string last = Value(20 * kPerPage, 99);
    Put("pass", last);
    EXPECT_TRUE(FromFile("pass", last.size(), last.size()) == last);

    // A chain that runs forwards to within a stretch of the file's end, then jumps back.
    Open("jumps.db");
    for (const auto& [key, size] :
         std::vector<std::pair<const char*, std::size_t>>{{"pass", 800000},
                                                          {"side", 300000},
                                                          {"pass", 500000},
                                                          {"side", 20},
                                                          {"pass", 900000},
                                                          {"side", 400000},
                                                          {"pass", 700001}}) {
        Put(key, Value(size, 1));
    }
    const std::string jumps = Value(700001, 1);
    EXPECT_TRUE(FromFile("pass", 700001, 700001) == jumps);
    EXPECT_TRUE(FromFile("pass", 700001, 650000) == jumps.substr(0, 650000));
}

// Whatever it cannot vouch for is left to the library: keys it does not find or that hold
// no chain, a length that differs from the library's, files of another layout, and every
// kind of break in a chain.
TEST_F(DbFileReadTest, DeclinesWhatItCannotVouchFor) {
    const std::string big = Value(50 * kPerPage, 3);
    const auto bigLength = static_cast<u_int32_t>(big.size());
    Open("plain.db");
    Put("pass", big);
    Put("tiny", "a value on its own page");
    EXPECT_FALSE(FromFile("none", bigLength, 10));
    EXPECT_FALSE(FromFile("tiny", 23, 10));
    EXPECT_FALSE(FromFile("pass", bigLength + 1, 10));
    EXPECT_FALSE(FromFile("pass", bigLength, bigLength + 1));
    EXPECT_FALSE(FromFile("pass", bigLength, 0));
    EXPECT_TRUE(FromFile("pass", bigLength, bigLength) == big);

    for (const auto& [name, flags, order] :
         {std::make_tuple("swapped.db", 0u, 4321), std::make_tuple("dup.db", u_int32_t{DB_DUP}, 0),
          std::make_tuple("sums.db", u_int32_t{DB_CHKSUM}, 0)}) {
        Open(name, flags, order);
        Put("pass", big);
        EXPECT_FALSE(FromFile("pass", bigLength, bigLength)) << name;
    }

    // Each break in the chain of a value on 50 pages, made in a copy of the sound file:
    // which page of the chain, which of its header's fields, and the value written there.
    Open("sound.db");
    Put("pass", big);
    Close();
    const std::vector<std::uint32_t> chain = ChainOf(big.size());
    ASSERT_EQ(chain.size(), 50u);
    const auto number = [](std::uint32_t value, std::size_t bytes) {
        return std::string(reinterpret_cast<const char*>(&value), bytes);
    };
    struct Break {
        std::size_t page;
        std::size_t field;
        std::string bytes;
    };
    const std::vector<Break> breaks = {
        {0, 8, number(chain[0] + 1, 4)},    // not the page it names
        {20, 25, "\x05"},                   // a leaf page, not an overflow page
        {20, 12, number(chain[18], 4)},     // linked back to the wrong page
        {20, 22, number(kPerPage - 1, 2)},  // holding a byte less than a full page
        {20, 16, number(chain[10], 4)},     // pointing back into the chain: a loop
        {20, 16, number(0x7FFFFF, 4)},      // past the file's end
        {20, 16, number(0, 4)},             // ending early
        {49, 16, number(chain[3], 4)},      // going on past the value's end
    };
    const std::string sound = path;
    for (const Break& at : breaks) {
        const std::string broken = dir.File("broken.db");
        std::filesystem::copy_file(sound, broken,
                                   std::filesystem::copy_options::overwrite_existing);
        Patch(broken, std::uint64_t{chain[at.page]} * kPageSize + at.field, at.bytes);
        Open("broken.db");
        EXPECT_FALSE(FromFile("pass", bigLength, bigLength))
            << "page " << at.page << ", field " << at.field;
    }
    Open("sound.db");
    EXPECT_TRUE(FromFile("pass", bigLength, bigLength) == big);
}

// Keys out of order, where the library's binary search and a scan part ways, must never give
// a value other than the library's: the same key twice on a leaf, and a separator on an
// internal page put after the next one, above a leaf where a key was renamed to the one
// looked for.
TEST_F(DbFileReadTest, KeysOutOfOrderNeverGiveAnotherValueThanTheLibrarys) {
    const auto pageWith = [this](const std::string& bytes) {
        const std::string file = testsupport::ReadFile(path);
        const std::size_t at = file.find(bytes, kPageSize);
        EXPECT_NE(at, std::string::npos) << bytes;
        return at == std::string::npos ? 0 : at;
    };
    const auto sameAsLibrary = [this](const std::string& key, u_int32_t length) {
        const std::optional<std::string> read = FromFile(key, length, length);
        std::string library(length, '\0');
        Dbt k(const_cast<char*>(key.data()), static_cast<u_int32_t>(key.size()));
        Dbt v(&library[0], length);
        v.set_ulen(length);
        v.set_flags(DB_DBT_USERMEM);
        return !read || (m_db->get(nullptr, &k, &v, 0) == 0 && *read == library);
    };
    constexpr u_int32_t kLength = 100000;

    Open("twice.db");
    Put("pasa", Value(kLength, 1));
    Put("pass", Value(kLength, 2));
    Close();
    Patch(path, pageWith("pasa"), "pass");
    Open("twice.db");
    EXPECT_TRUE(sameAsLibrary("pass", kLength));

    Open("tree.db");
    for (int i = 100; i < 500; ++i) {
        Put("k" + std::to_string(i), Value(90, i));
    }
    Put("k200", Value(kLength, 1));
    Put("k400", Value(kLength, 3));
    Close();
    const std::size_t leafKey = pageWith("k200");
    const std::string file = testsupport::ReadFile(path);
    std::uint32_t root = 0;
    std::memcpy(&root, file.data() + 88, 4);
    // The root's items: offsets after the 26-byte header; each item a length, a type, a
    // spare byte, the child page, a record count and the key.
    const std::size_t rootAt = std::size_t{root} * kPageSize;
    std::uint16_t entries = 0;
    std::memcpy(&entries, file.data() + rootAt + 20, 2);
    std::size_t separator = 0;
    for (std::size_t i = 0; i + 1 < entries; ++i) {
        std::uint16_t item = 0;
        std::uint16_t next = 0;
        std::uint32_t child = 0;
        std::memcpy(&item, file.data() + rootAt + 26 + 2 * i, 2);
        std::memcpy(&next, file.data() + rootAt + 26 + 2 * (i + 1), 2);
        std::memcpy(&child, file.data() + rootAt + item + 4, 4);
        if (child == leafKey / kPageSize) {
            separator = rootAt + next + 12;
        }
    }
    ASSERT_NE(separator, 0u) << "the leaf of k200 has a separator after it";
    Patch(path, separator, "k9");
    Patch(path, leafKey, "k400");
    Open("tree.db");
    EXPECT_TRUE(sameAsLibrary("k400", kLength));
}

}  // namespace
