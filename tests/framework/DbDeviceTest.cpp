#include "framework/DbDevice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "framework/DeviceManager.h"
#include "support/TempDir.h"

using namespace Ombrix;
using testsupport::ListFiles;

namespace {

class DbDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceManager::Instance().Add("/device/system/db", std::unique_ptr<DbDevice>(device));
    }
    void TearDown() override { DeviceManager::DestroyInstance(); }
    std::unique_ptr<CircuitInterface> Open(const std::string& name) {
        return DeviceManager::Instance().GetCircuit("/device/system/db", dir.File(name), 0, nullptr,
                                                    nullptr);
    }
    static Db* HandleOf(const std::unique_ptr<CircuitInterface>& circuit) {
        return dynamic_cast<DbCircuit&>(*circuit).GetDb();
    }
    // Runs one request: what a read found, "" after any other, or "refused".
    static std::string Run(CircuitInterface& circuit, int op, const std::string& key,
                           const std::string& value = "") {
        DbRequest request;
        request.op = op;
        request.key.Append(reinterpret_cast<const unsigned char*>(key.data()), int(key.size()));
        request.value.Append(reinterpret_cast<const unsigned char*>(value.data()),
                             int(value.size()));
        return circuit.Write(&request, sizeof request, nullptr) != 0
                   ? "refused"
                   : std::string(reinterpret_cast<char*>(request.value.m_pBuffer),
                                 op == kDbRead ? request.value.m_nLength : 0);
    }

    testsupport::TempDir dir;
    DbDevice* device = new DbDevice;  // handed to the registry
};

// Circuits made by many threads at once share one handle per path, which outlives the device.
// Without an environment there is no locking: writers take turns, as the program's one does.
TEST_F(DbDeviceTest, ThreadsShareOneHandlePerPathWhichOutlivesTheDevice) {
    std::vector<Db*> handles(6, nullptr);
    std::vector<std::thread> threads;
    std::mutex writers;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        threads.emplace_back([&, i] {
            auto circuit = Open("shared.db");
            handles[i] = HandleOf(circuit);
            std::lock_guard<std::mutex> turn(writers);
            EXPECT_EQ(Run(*circuit, kDbAppend, "k", std::to_string(i)), "");
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto circuit = Open("shared.db");
    EXPECT_EQ(std::count(handles.begin(), handles.end(), HandleOf(circuit)), 6);
    DeviceManager::DestroyInstance();
    EXPECT_EQ(Run(*circuit, kDbAppend, "k", std::string(20000, 'w')), "");  // overflow pages
    EXPECT_EQ(Run(*circuit, kDbRead, "k").size(), 20006u);
}

// A creation cut short leaves the library's temporary file beside the missing database. A
// program that holds its folder's lock removes it; any other refuses the open; neither waits.
TEST_F(DbDeviceTest, ACreationCutShortDoesNotHoldUpTheNextOpen) {
    ::alarm(60);  // instead of waiting for ever
    testsupport::WriteFile(dir.File("__db.cut.db"), "");
    EXPECT_EQ(Open("cut.db"), nullptr);
    EXPECT_EQ(ListFiles(dir.Path()), std::vector<std::string>{"__db.cut.db"});
    device->SetRemovesStaleCreations(true);
    EXPECT_EQ(Run(*Open("cut.db"), kDbPut, "k", "v"), "");
    EXPECT_EQ(ListFiles(dir.Path()), std::vector<std::string>{"cut.db"});
    ::alarm(0);
}

// A creation the disk cuts short after half a page leaves neither the database nor the
// library's temporary file behind when the program holds its folder's lock.
TEST_F(DbDeviceTest, ACreationTheDiskCutsShortLeavesNothingBehind) {
    device->SetRemovesStaleCreations(true);
    db_env_set_func_pwrite([](int fd, const void* data, size_t size, off_t at) {
        const ssize_t written = ::pwrite(fd, data, std::min<size_t>(size, 4096), at);
        return written < 0 || static_cast<size_t>(written) == size ? written : (errno = ENOSPC, -1);
    });
    db_env_set_func_write([](int, const void*, size_t) { return errno = ENOSPC, ssize_t{-1}; });
    EXPECT_EQ(Open("full.db"), nullptr);
    db_env_set_func_pwrite(nullptr);
    db_env_set_func_write(nullptr);
    EXPECT_EQ(ListFiles(dir.Path()), std::vector<std::string>{});
}

TEST_F(DbDeviceTest, ASyncTheDiskRefusesIsReported) {
    auto circuit = Open("a.db");
    ASSERT_EQ(Run(*circuit, kDbPut, "k", std::string(20000, 'v')), "");
    db_env_set_func_pwrite(
        [](int, const void*, size_t, off_t) { return errno = EIO, ssize_t{-1}; });
    db_env_set_func_write([](int, const void*, size_t) { return errno = EIO, ssize_t{-1}; });
    EXPECT_EQ(Run(*circuit, kDbSync, ""), "refused");
    db_env_set_func_pwrite(nullptr);
    db_env_set_func_write(nullptr);
    EXPECT_EQ(Run(*circuit, kDbSync, ""), "");
}

// Forgetting a database lets the next circuit open the file as it now is, while a circuit
// made before keeps a working handle on the file it was made for.
TEST_F(DbDeviceTest, AForgottenDatabaseIsReopenedAndLeftWorkingForItsCircuits) {
    auto old = Open("a.db");
    ASSERT_EQ(Run(*old, kDbPut, "k", "old") + Run(*old, kDbSync, ""), "");
    ASSERT_EQ(Run(*Open("b.db"), kDbPutOrReplace, "k", "new"), "");
    EXPECT_EQ(device->Close(dir.File("b.db"), true), kOk);  // written back, then closed
    ASSERT_EQ(::rename(dir.File("b.db").c_str(), dir.File("a.db").c_str()), 0);
    EXPECT_EQ(device->Close(dir.File("a.db"), false), kOk);
    EXPECT_EQ(Run(*Open("a.db"), kDbRead, "k"), "new");
    EXPECT_EQ(Run(*old, kDbRead, "k"), "old");
}

}  // namespace
