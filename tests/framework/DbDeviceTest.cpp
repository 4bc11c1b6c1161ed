#include "framework/DbDevice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "support/TempDir.h"

using namespace Ombrix;
using testsupport::FileExists;
using testsupport::TempDir;

namespace {

const char* const kDbDevice = "/device/system/db";

void SetBytes(Data<unsigned char>& data, const std::string& bytes) {
    data.m_nLength = 0;
    data.Append(reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<int>(bytes.size()));
}

std::string Bytes(const Data<unsigned char>& data) {
    return std::string(reinterpret_cast<const char*>(data.m_pBuffer), data.m_nLength);
}

// Writes records into a database file through a handle of its own, then closes it.
void MakeDatabase(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& records) {
    Db db(nullptr, DB_CXX_NO_EXCEPTIONS);
    ASSERT_EQ(db.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_CREATE, 0664), 0);
    for (const auto& [k, v] : records) {
        Dbt key(const_cast<char*>(k.data()), k.size());
        Dbt value(const_cast<char*>(v.data()), v.size());
        ASSERT_EQ(db.put(nullptr, &key, &value, 0), 0);
    }
    db.close(0);
}

class DbDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceManager::Instance().Add(kDbDevice, std::make_unique<DbDevice>());
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }

    std::unique_ptr<CircuitInterface> Open(const std::string& path, int mode = 0,
                                           int* error = nullptr) {
        return DeviceManager::Instance().GetCircuit(kDbDevice, path, mode, error, nullptr);
    }

    static Db* HandleOf(const std::unique_ptr<CircuitInterface>& circuit) {
        auto* db = dynamic_cast<DbCircuit*>(circuit.get());
        return db == nullptr ? nullptr : db->GetDb();
    }

    int Run(CircuitInterface& circuit, int op, const std::string& key,
            const std::string& value = "") {
        request.op = op;
        SetBytes(request.key, key);
        SetBytes(request.value, value);
        return circuit.Write(&request, sizeof request, nullptr);
    }

    // The stored value of key, or "<none>".
    std::string ReadBack(CircuitInterface& circuit, const std::string& key) {
        DbRequest read;
        read.op = kDbRead;
        SetBytes(read.key, key);
        return circuit.Write(&read, sizeof read, nullptr) == 0 ? Bytes(read.value) : "<none>";
    }

    TempDir dir;
    DbRequest request;
};

TEST_F(DbDeviceTest, CircuitsOnOnePathShareOneHandleOpenedOnce) {
    const std::string path = dir.File("a.db");
    int error = -1;
    auto first = Open(path, 0, &error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, 0);
    auto second = Open(path);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(HandleOf(first), HandleOf(second));

    auto other = Open(dir.File("b.db"));
    ASSERT_NE(other, nullptr);
    EXPECT_NE(HandleOf(other), HandleOf(first));

    // Releasing every circuit leaves the database open for the next one.
    Db* handle = HandleOf(first);
    first.reset();
    second.reset();
    EXPECT_EQ(HandleOf(Open(path)), handle);
}

TEST_F(DbDeviceTest, ReadOnlyModeNeverCreatesAFileAndAFailedOpenIsRetried) {
    const std::string path = dir.File("ro.db");
    int error = -1;
    EXPECT_EQ(Open(path, 1, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_FALSE(FileExists(path));

    MakeDatabase(path, {{"k", "v"}});
    auto circuit = Open(path, 1, &error);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ReadBack(*circuit, "k"), "v");
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "w"), 1);

    // The first opening decides the mode: a later read-write request shares the handle.
    auto again = Open(path, 0);
    EXPECT_EQ(HandleOf(again), HandleOf(circuit));
    EXPECT_EQ(Run(*again, kDbPut, "k", "w"), 1);
}

TEST_F(DbDeviceTest, ModeZeroCreatesABtreeFileWithTheDeviceSettings) {
    const mode_t previous = ::umask(0);
    auto circuit = Open(dir.File("new.db"));
    ::umask(previous);
    ASSERT_NE(circuit, nullptr);
    Db* db = HandleOf(circuit);

    u_int32_t pageSize = 0;
    db->get_pagesize(&pageSize);
    EXPECT_EQ(pageSize, 8192u);
    DBTYPE type = DB_UNKNOWN;
    db->get_type(&type);
    EXPECT_EQ(type, DB_BTREE);
    u_int32_t flags = 0;
    db->get_open_flags(&flags);
    EXPECT_TRUE(flags & DB_THREAD);
    EXPECT_TRUE(flags & DB_CREATE);
    const char* prefix = nullptr;
    db->get_errpfx(&prefix);
    EXPECT_STREQ(prefix, "ombrix");

    struct stat info {};
    ASSERT_EQ(::stat(dir.File("new.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0664u);
}

TEST_F(DbDeviceTest, NotADatabaseFileIsRefused) {
    const std::string path = dir.File("text.db");
    testsupport::WriteFile(path, std::string(20000, 'x'));
    int error = -1;
    EXPECT_EQ(Open(path, 0, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(Open(dir.File("missing/dir.db"), 0, &error), nullptr);
    EXPECT_EQ(error, 1);
}

TEST(DbCacheSizeTest, ChosenByTheFirstMatchingWordOfThePath) {
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/face/a.db"), 0x4000000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/face/zi.db"), 0x9600000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/friend/a.db"), 0xA000000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/friend/zi.db"), 0x20000000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/shangpin/a.db"), 0x200000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/shangpin/zi.db"), 0x20000000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/friend/face.db"), 0x4000000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/data/Face/a.db"), 0x200000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/opt/zi.db"), 0x200000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/opt/ferrocask.db"), 0x200000u);
}

TEST_F(DbDeviceTest, AnOpenedDatabaseGetsTheCacheOfItsPath) {
    auto small = Open(dir.File("plain.db"));
    auto large = Open(dir.File("face.db"));
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    u_int32_t gbytes = 1, smallBytes = 0, largeBytes = 0;
    int regions = 0;
    HandleOf(small)->get_cachesize(&gbytes, &smallBytes, &regions);
    EXPECT_EQ(gbytes, 0u);
    HandleOf(large)->get_cachesize(&gbytes, &largeBytes, &regions);
    EXPECT_EQ(gbytes, 0u);
    // The library may round a cache up, never down.
    EXPECT_GE(smallBytes, 0x200000u);
    EXPECT_LT(smallBytes, 0x4000000u);
    EXPECT_GE(largeBytes, 0x4000000u);
}

TEST_F(DbDeviceTest, WriteRefusesMalformedRequestsWithoutTouchingThem) {
    auto circuit = Open(dir.File("w.db"));
    ASSERT_NE(circuit, nullptr);
    SetBytes(request.key, "k");
    SetBytes(request.value, "keep");
    request.op = kDbRead;
    EXPECT_EQ(circuit->Write(&request, sizeof request + 1, nullptr), 1);
    EXPECT_EQ(circuit->Write(&request, sizeof request - 1, nullptr), 1);
    EXPECT_EQ(Bytes(request.value), "keep");
    EXPECT_EQ(circuit->Write(nullptr, sizeof request, nullptr), 1);
    for (int op : {5, 7, -1, 1000}) {
        EXPECT_EQ(Run(*circuit, op, "k", "v"), 1) << "op " << op;
    }
    EXPECT_EQ(ReadBack(*circuit, "k"), "<none>");

    char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(circuit->Read(buffer, 4, nullptr), 1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(circuit->GetInfo("x"), nullptr);
    EXPECT_EQ(circuit->SetInfo("x", std::make_unique<_InfoItem>()), 1);
}

TEST_F(DbDeviceTest, PutDeleteAndReadKeepOneValuePerKey) {
    auto circuit = Open(dir.File("ops.db"));
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "first"), 0);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "second"), 0);
    EXPECT_EQ(ReadBack(*circuit, "k"), "second");

    EXPECT_EQ(Run(*circuit, kDbDelete, "missing"), 0);
    EXPECT_EQ(Run(*circuit, kDbDelete, "k"), 0);
    EXPECT_EQ(ReadBack(*circuit, "k"), "<none>");

    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "r", "new"), 0);
    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "r", "replaced value"), 0);
    EXPECT_EQ(ReadBack(*circuit, "r"), "replaced value");

    EXPECT_EQ(Run(*circuit, kDbPut, "empty", ""), 0);
    EXPECT_EQ(ReadBack(*circuit, "empty"), "");
}

TEST_F(DbDeviceTest, AppendAddsToTheEndOfTheStoredValue) {
    auto circuit = Open(dir.File("append.db"));
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(Run(*circuit, kDbAppend, "k", "abc"), 0);
    EXPECT_EQ(Run(*circuit, kDbAppend, "k", "defgh"), 0);
    EXPECT_EQ(ReadBack(*circuit, "k"), "abcdefgh");

    // Large values live on overflow pages; appending must work there as well.
    const std::string big(20000, 'x');
    EXPECT_EQ(Run(*circuit, kDbAppend, "big", big), 0);
    EXPECT_EQ(Run(*circuit, kDbAppend, "big", "tail"), 0);
    EXPECT_EQ(ReadBack(*circuit, "big"), big + "tail");
}

TEST_F(DbDeviceTest, ReadOfAMissingKeyFailsWithAnEmptyValue) {
    auto circuit = Open(dir.File("read.db"));
    ASSERT_NE(circuit, nullptr);
    SetBytes(request.value, "stale bytes");
    request.op = kDbRead;
    SetBytes(request.key, "missing");
    EXPECT_EQ(circuit->Write(&request, sizeof request, nullptr), 1);
    EXPECT_EQ(request.value.m_nLength, 0);

    // A read reuses the caller's buffer and grows it as needed.
    EXPECT_EQ(Run(*circuit, kDbPut, "k", std::string(300, 'q')), 0);
    SetBytes(request.value, "x");
    request.op = kDbRead;
    SetBytes(request.key, "k");
    EXPECT_EQ(circuit->Write(&request, sizeof request, nullptr), 0);
    EXPECT_EQ(Bytes(request.value), std::string(300, 'q'));
}

TEST_F(DbDeviceTest, SyncPutsTheContentIntoTheFile) {
    const std::string path = dir.File("sync.db");
    auto circuit = Open(path);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "durable"), 0);
    EXPECT_EQ(Run(*circuit, kDbSync, ""), 0);

    Db reader(nullptr, DB_CXX_NO_EXCEPTIONS);
    ASSERT_EQ(reader.open(nullptr, path.c_str(), nullptr, DB_BTREE, DB_RDONLY, 0), 0);
    Dbt key(const_cast<char*>("k"), 1);
    Dbt value;
    value.set_flags(DB_DBT_MALLOC);
    ASSERT_EQ(reader.get(nullptr, &key, &value, 0), 0);
    EXPECT_EQ(std::string(static_cast<char*>(value.get_data()), value.get_size()), "durable");
    free(value.get_data());
    reader.close(0);
}

TEST_F(DbDeviceTest, FailedPutsAreLogged) {
    testsupport::ScopedWorkingDirectory cwd(dir.Path());
    testsupport::WriteFile(dir.File("config.txt"), "/config/system/log true\n");
    Config::SetFileName("config.txt");

    const std::string path = dir.File("locked.db");
    MakeDatabase(path, {{"old", "v"}});
    auto circuit = Open(path, 1);
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "v"), 1);
    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "new", "v"), 1);
    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "old", "w"), 1);
    EXPECT_EQ(Run(*circuit, kDbAppend, "old", "w"), 1);
    EXPECT_EQ(Run(*circuit, kDbDelete, "old"), 1);

    const auto logs = testsupport::ListFiles(dir.Path(), "log_");
    ASSERT_EQ(logs.size(), 1u);
    std::istringstream content(testsupport::ReadFile(dir.File(logs[0])));
    std::vector<std::string> messages;
    for (std::string line; std::getline(content, line);) {
        const auto at = line.find("error:");
        ASSERT_NE(at, std::string::npos) << line;
        messages.push_back(line.substr(at + 6));
    }
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "DbCircuit::Write m_pDb->put error!", "DbCircuit::Write m_pDb->put error!",
                  "DbCircuit::Write cursor->put error!", "DbCircuit::Write cursor->put error!"}));
}

TEST_F(DbDeviceTest, ThreadsAskingForOnePathAtOnceShareOneHandle) {
    const std::string path = dir.File("shared.db");
    constexpr int kThreads = 6;
    std::vector<Db*> handles(kThreads, nullptr);
    std::vector<int> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            auto circuit = Open(path);
            if (circuit == nullptr) {
                return;
            }
            handles[i] = HandleOf(circuit);
            DbRequest put;
            put.op = kDbPut;
            SetBytes(put.key, "key" + std::to_string(i));
            SetBytes(put.value, std::string(100 + i, 'a' + i));
            results[i] = circuit->Write(&put, sizeof put, nullptr);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto circuit = Open(path);
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(handles[i], HandleOf(circuit));
        EXPECT_EQ(results[i], 0);
        EXPECT_EQ(ReadBack(*circuit, "key" + std::to_string(i)), std::string(100 + i, 'a' + i));
    }
}

TEST_F(DbDeviceTest, ACircuitKeepsItsDeviceAndHandleAliveAfterShutDown) {
    auto circuit = Open(dir.File("late.db"));
    ASSERT_NE(circuit, nullptr);
    DeviceManager::Instance().Remove(kDbDevice);
    DeviceManager::DestroyInstance();
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "still works"), 0);
    EXPECT_EQ(ReadBack(*circuit, "k"), "still works");
    EXPECT_EQ(Run(*circuit, kDbSync, ""), 0);
    circuit.reset();  // the device and its handle go with the last circuit
}

}  // namespace
