#include "platform/capture/pulse/ControlThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <vector>

namespace veltrane {
namespace {

TEST(ControlThread, RunsTasksInOrderAndMayBeDestroyedByOne) {
    auto thread = std::make_unique<ControlThread>("test.control");
    ControlThread* raw = thread.get();
    std::vector<int> order;
    std::promise<void> done;
    for (int i = 0; i < 5; ++i) {
        raw->post([&order, i, raw] {
            EXPECT_TRUE(raw->isCurrent());
            order.push_back(i);
        });
    }
    EXPECT_FALSE(raw->isCurrent());
    raw->post([&thread, &done] {
        thread.reset();
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(ControlThread, ShutdownWaitsForTheRunningTaskAndDropsTheRest) {
    ControlThread thread("test.control");
    std::promise<void> started;
    std::atomic<bool> finished = false;
    std::atomic<bool> laterRan = false;
    thread.post([&] {
        started.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    thread.post([&] { laterRan = true; });
    started.get_future().wait();
    thread.shutdown();
    EXPECT_TRUE(finished) << "shutdown() returned while a task was still running";
    thread.post([&] { laterRan = true; });
    EXPECT_FALSE(laterRan);
}

// No gated call runs once close() returns, even one under way on another thread, nor after a
// call closed the gate itself.
TEST(CallbackGate, CloseWaitsForACallInProgressAndMayComeFromInside) {
    CallbackGate gate;
    std::promise<void> inside;
    std::atomic<bool> callFinished = false;
    std::thread caller([&] {
        gate.runIfOpen([&] {
            inside.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            callFinished = true;
        });
    });
    inside.get_future().wait();
    gate.close();
    EXPECT_TRUE(callFinished) << "close() returned while a gated call was still running";
    caller.join();

    CallbackGate selfClosing;
    int calls = 0;
    selfClosing.runIfOpen([&] {
        ++calls;
        selfClosing.close();
    });
    selfClosing.runIfOpen([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace veltrane
