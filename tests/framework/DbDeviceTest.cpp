#include "framework/DbDevice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <regex>
#include <thread>

#include "framework/Config.h"
#include "framework/DeviceManager.h"
#include "support/TempDir.h"

using namespace Ombrix;

namespace {

void SetBytes(Data<unsigned char>& data, const std::string& bytes) {
    data.m_nLength = 0;
    data.Append(reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<int>(bytes.size()));
}

class DbDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceManager::Instance().Add("/device/system/db", std::make_unique<DbDevice>());
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }

    DbDevice& Device() {
        return dynamic_cast<DbDevice&>(*DeviceManager::Instance().Get("/device/system/db"));
    }
    std::unique_ptr<CircuitInterface> Open(const std::string& name, int mode = 0,
                                           int* error = nullptr) {
        return DeviceManager::Instance().GetCircuit("/device/system/db", dir.File(name), mode,
                                                    error, nullptr);
    }
    static Db* HandleOf(const std::unique_ptr<CircuitInterface>& circuit) {
        return dynamic_cast<DbCircuit&>(*circuit).GetDb();
    }
    // Runs one request; a read's result (or "<none>") lands in `read`.
    int Run(CircuitInterface& circuit, int op, const std::string& key,
            const std::string& value = "") {
        DbRequest request;
        request.op = op;
        SetBytes(request.key, key);
        SetBytes(request.value, value);
        const int result = circuit.Write(&request, sizeof request, nullptr);
        read = result == 0 ? std::string(reinterpret_cast<char*>(request.value.m_pBuffer),
                                         request.value.m_nLength)
                           : "<none>";
        return result;
    }

    testsupport::TempDir dir;
    std::string read;
};

TEST_F(DbDeviceTest, RequestsPutDeleteReplaceAppendReadAndSyncAndRefuseMalformedOnes) {
    auto circuit = Open("ops.db");
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "first"), 0);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "second"), 0);
    EXPECT_EQ(Run(*circuit, kDbRead, "k"), 0);
    EXPECT_EQ(read, "second");
    EXPECT_EQ(Run(*circuit, kDbDelete, "missing"), 0);
    EXPECT_EQ(Run(*circuit, kDbDelete, "k"), 0);
    EXPECT_EQ(Run(*circuit, kDbRead, "k"), 1);
    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "r", "new"), 0);
    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "r", "replaced"), 0);
    Run(*circuit, kDbRead, "r");
    EXPECT_EQ(read, "replaced");
    // Appending works on small values and on values kept on overflow pages.
    for (const std::string& head : {std::string("abc"), std::string(20000, 'x')}) {
        const std::string key = "a" + head.substr(0, 1);
        EXPECT_EQ(Run(*circuit, kDbAppend, key, head), 0);
        EXPECT_EQ(Run(*circuit, kDbAppend, key, "defgh"), 0);
        Run(*circuit, kDbRead, key);
        EXPECT_EQ(read, head + "defgh");
    }
    EXPECT_EQ(Run(*circuit, kDbSync, ""), 0);

    DbRequest request;
    request.op = kDbRead;
    SetBytes(request.value, "stale");
    EXPECT_EQ(circuit->Write(&request, sizeof request + 1, nullptr), 1);
    EXPECT_EQ(circuit->Write(&request, sizeof request - 1, nullptr), 1);
    EXPECT_EQ(request.value.m_nLength, 5);
    EXPECT_EQ(circuit->Write(&request, sizeof request, nullptr), 1);  // missing key
    EXPECT_EQ(request.value.m_nLength, 0);                            // no stale bytes handed back
    for (int op : {5, 7, -1}) {
        EXPECT_EQ(Run(*circuit, op, "r", "v"), 1);
    }
}

TEST_F(DbDeviceTest, OnePathIsOpenedOnceEvenByManyThreadsAndOutlivesTheDevice) {
    std::vector<Db*> handles(6, nullptr);
    std::vector<std::thread> threads;
    // Circuits may be made from many threads at once, but a database opened without an
    // environment has no locking: its writers must take turns, as the program's one user
    // interface thread always does.
    std::mutex writers;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        threads.emplace_back([&, i] {
            auto circuit = Open("shared.db", i % 2);  // the first opening decides the mode
            handles[i] = HandleOf(circuit);
            DbRequest put;
            put.op = kDbPut;
            SetBytes(put.key, std::to_string(i));
            SetBytes(put.value, std::string(100 + i, 'v'));
            std::lock_guard<std::mutex> turn(writers);
            EXPECT_EQ(circuit->Write(&put, sizeof put, nullptr), 0);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto circuit = Open("shared.db");
    for (std::size_t i = 0; i < handles.size(); ++i) {
        EXPECT_EQ(handles[i], HandleOf(circuit));
        EXPECT_EQ(Run(*circuit, kDbRead, std::to_string(i)), 0);
        EXPECT_EQ(read.size(), 100 + i);
    }
    EXPECT_NE(HandleOf(Open("other.db")), HandleOf(circuit));
    u_int32_t pageSize = 0;
    HandleOf(circuit)->get_pagesize(&pageSize);
    EXPECT_EQ(pageSize, 8192u);
    EXPECT_EQ(DbDevice::CacheBytesFor(dir.File("ferrocask.db")), 0x200000u);
    EXPECT_EQ(DbDevice::CacheBytesFor("/d/friend/face.db"), 0x4000000u);  // the first word wins

    DeviceManager::DestroyInstance();  // the circuit keeps its device and handle alive
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "still works"), 0);
    EXPECT_EQ(Run(*circuit, kDbRead, "k"), 0);
    EXPECT_EQ(read, "still works");
}

// A creation cut short (a full disk, a killed program) leaves the library's temporary file
// beside the missing database; opening the path again must not wait for it. A program that
// holds its folder's lock removes it; any other refuses the open and leaves the file alone.
TEST_F(DbDeviceTest, ACreationCutShortDoesNotHoldUpTheNextOpen) {
    ::alarm(60);  // instead of waiting for ever
    testsupport::WriteFile(dir.File("__db.cut.db"), "");
    int error = -1;
    EXPECT_EQ(Open("cut.db", 0, &error), nullptr);
    EXPECT_EQ(error, kRefused);
    EXPECT_EQ(testsupport::ListFiles(dir.Path()), std::vector<std::string>{"__db.cut.db"});
    Device().SetRemovesStaleCreations(true);
    auto circuit = Open("cut.db");
    ASSERT_NE(circuit, nullptr);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "v"), 0);
    EXPECT_EQ(testsupport::ListFiles(dir.Path()), std::vector<std::string>{"cut.db"});
    ::alarm(0);
}

TEST_F(DbDeviceTest, FilesThatCannotBeOpenedOrWrittenAreReportedNotTakenForDone) {
    testsupport::ScopedWorkingDirectory cwd(dir.Path());
    Config::Instance().SetValue("/config/system/log", "true");
    int error = -1;
    EXPECT_EQ(Open("ro.db", 1, &error), nullptr);  // read-only and missing
    EXPECT_EQ(error, 1);
    EXPECT_FALSE(testsupport::FileExists(dir.File("ro.db")));
    testsupport::WriteFile(dir.File("text.db"), std::string(20000, 'x'));
    EXPECT_EQ(Open("text.db", 0, &error), nullptr);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(Run(*Open("ro.db"), kDbPut, "old", "v"), 0);  // a failed open left nothing behind
    EXPECT_EQ(Device().Close(dir.File("ro.db"), true), kOk);

    auto circuit = Open("ro.db", 1);
    EXPECT_EQ(Run(*circuit, kDbPut, "k", "v"), 1);
    EXPECT_EQ(Run(*circuit, kDbPutOrReplace, "new", "v"), 1);
    EXPECT_EQ(Run(*circuit, kDbAppend, "old", "w"), 1);
    EXPECT_EQ(Run(*circuit, kDbDelete, "old"), 1);  // fails without a log line
    const auto logs = testsupport::ListFiles(dir.Path(), "log_");
    ASSERT_EQ(logs.size(), 1u);
    const std::string text = testsupport::ReadFile(dir.File(logs[0]));
    EXPECT_TRUE(
        std::regex_match(text, std::regex("(.{19}   error:DbCircuit::Write m_pDb->put error!\n){2}"
                                          ".{19}   error:DbCircuit::Write cursor->put error!\n")))
        << text;
}

// A flush that the disk refuses is reported (the request returns 1), not taken for done.
TEST_F(DbDeviceTest, ASyncTheDiskRefusesIsReported) {
    auto circuit = Open("a.db");
    ASSERT_EQ(Run(*circuit, kDbPut, "k", std::string(20000, 'v')), 0);
    db_env_set_func_pwrite(
        [](int, const void*, size_t, off_t) { return errno = EIO, ssize_t{-1}; });
    db_env_set_func_write([](int, const void*, size_t) { return errno = EIO, ssize_t{-1}; });
    EXPECT_EQ(Run(*circuit, kDbSync, ""), kRefused);
    db_env_set_func_pwrite(nullptr);
    db_env_set_func_write(nullptr);
    EXPECT_EQ(Run(*circuit, kDbSync, ""), kOk);
}

// Forgetting a database lets the next circuit open the file as it now is, while a circuit
// made before keeps a working handle on the file it was made for.
TEST_F(DbDeviceTest, AForgottenDatabaseIsReopenedAndLeftWorkingForItsCircuits) {
    EXPECT_EQ(Device().Close(dir.File("a.db"), true), kRefused);  // not open
    auto old = Open("a.db");
    ASSERT_EQ(Run(*old, kDbPut, "k", "old"), 0);
    ASSERT_EQ(Run(*old, kDbSync, "k"), 0);
    ASSERT_EQ(Run(*Open("b.db"), kDbPut, "k", "new"), 0);
    EXPECT_EQ(Device().Close(dir.File("b.db"), true), kOk);  // written back, then closed
    ASSERT_EQ(::rename(dir.File("b.db").c_str(), dir.File("a.db").c_str()), 0);
    EXPECT_EQ(Device().Close(dir.File("a.db"), false), kOk);

    auto fresh = Open("a.db");
    EXPECT_NE(HandleOf(fresh), HandleOf(old));
    ASSERT_EQ(Run(*fresh, kDbRead, "k"), 0);
    EXPECT_EQ(read, "new");
    ASSERT_EQ(Run(*old, kDbRead, "k"), 0);
    EXPECT_EQ(read, "old");
}

}  // namespace
