#include "framework/ThreadDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

#include "framework/DeviceManager.h"
#include "support/TempDir.h"

using namespace Ombrix;

namespace {

std::unique_ptr<CircuitInterface> Lend() {
    return DeviceManager::Instance().GetCircuit("/device/system/thread", "", 0, nullptr, nullptr);
}

void Post(CircuitInterface& circuit, std::function<void()> work) {
    ThreadJob request;
    request.m_pJob = new Job(std::move(work));
    EXPECT_EQ(circuit.Write(&request, sizeof request, nullptr), 0);
}

void Drain(CircuitInterface& circuit) {  // runs a job on the circuit's worker and waits for it
    std::promise<void> done;
    Post(circuit, [&done] { done.set_value(); });
    done.get_future().wait();
}

TEST(ThreadDeviceTest, WriteRefusesBadRequestsAndHandsTheJobOverOtherwise) {
    testsupport::TempDir dir;
    testsupport::ScopedWorkingDirectory cwd(dir.Path());  // for the log of the job that throws
    DeviceManager::Instance().Add("/device/system/thread", std::make_unique<ThreadDevice>());
    auto circuit = Lend();
    ThreadJob request;
    request.m_pJob = new Job([] { throw std::runtime_error("job failed"); });
    for (int length : {0, -4, static_cast<int>(sizeof request) - 1}) {
        EXPECT_EQ(circuit->Write(&request, length, nullptr), 1);
    }
    EXPECT_EQ(circuit->Write(nullptr, sizeof request, nullptr), 1);
    EXPECT_NE(request.m_pJob, nullptr);  // still the caller's
    EXPECT_EQ(circuit->Write(&request, sizeof request, nullptr), 0);
    EXPECT_EQ(request.m_pJob, nullptr);
    Drain(*circuit);  // the worker goes on after a job that threw

    // Giving a circuit back waits until its worker finished a job (here the only one), which
    // may borrow workers meanwhile: the device is not locked.
    circuit = Lend();
    std::promise<void> gate;
    std::atomic<bool> nestedRan{false}, returned{false};
    Post(*circuit, [&, opened = gate.get_future().share()] {
        opened.wait();
        Drain(*Lend());
        nestedRan = true;
    });
    std::thread giver([&] {
        circuit.reset();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    gate.set_value();
    giver.join();
    EXPECT_TRUE(nestedRan);
    DeviceManager::DestroyInstance();
}

// A job that gives back its own circuit returns its worker to the pool at once, while it
// still runs. When it then borrows a worker and waits for a job on it, that must be another
// worker: its own would run the job only after it.
TEST(ThreadDeviceTest, AJobThatBorrowsAWorkerNeverGetsItsOwn) {
    DeviceManager::Instance().Add("/device/system/thread", std::make_unique<ThreadDevice>());
    auto own = std::make_shared<std::unique_ptr<CircuitInterface>>(Lend());
    std::promise<void> posted;
    std::promise<bool> borrowedRan;
    Post(**own, [own, written = posted.get_future().share(), &borrowedRan] {
        written.wait();  // the circuit is not destroyed under its Write
        own->reset();
        auto nestedDone = std::make_shared<std::promise<void>>();
        auto nested = Lend();
        Post(*nested, [nestedDone] { nestedDone->set_value(); });
        // Bounded, so that a fault fails the test instead of hanging it.
        const bool ran =
            nestedDone->get_future().wait_for(std::chrono::seconds(3)) == std::future_status::ready;
        nested.reset();  // given back before the test may end
        borrowedRan.set_value(ran);
    });
    posted.set_value();
    EXPECT_TRUE(borrowedRan.get_future().get());
    DeviceManager::DestroyInstance();
}

}  // namespace
