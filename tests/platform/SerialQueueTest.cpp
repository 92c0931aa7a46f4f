#include "platform/dispatch/SerialQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using veltrane::SerialQueue;

TEST(SerialQueue, RunsTasksInOrderOnItsThreadAndEveryPostedTaskBeforeDestruction) {
    std::vector<int> order;
    std::atomic<bool> onQueue{true};
    {
        SerialQueue queue("test.queue");
        std::promise<void> release; // holds the queue until all are posted
        queue.post([gate = release.get_future().share()] { gate.wait(); });
        for (int i = 0; i < 100; ++i) {
            queue.post([&, i] {
                onQueue = onQueue && queue.isCurrent();
                order.push_back(i);
                if (i == 0) {
                    queue.post([&] { order.push_back(100); }); // behind the others
                }
            });
        }
        EXPECT_FALSE(queue.isCurrent());
        release.set_value();
    }
    EXPECT_EQ(order.size(), 101u);
    EXPECT_TRUE(std::ranges::is_sorted(order)); // each number is posted once
    EXPECT_TRUE(onQueue);
}

// Once a bug: the thread touched the freed queue (a sanitizer build sees it).
TEST(SerialQueue, QueueDestroyedByItsOwnTaskStillRunsWhatIsLeft) {
    auto* queue = new SerialQueue("test.queue");
    std::promise<void> release;
    std::promise<void> finished;
    queue->post([queue, gate = release.get_future().share()] {
        gate.wait();
        delete queue;
    });
    queue->post([&finished] { finished.set_value(); });
    release.set_value();
    finished.get_future().wait();
}

// A capture's completion may release the capture, whose destructor shuts its queue down.
TEST(SerialQueue, ShutDownAndDestroyedByItsOwnTaskDropsWhatIsLeft) {
    auto* queue = new SerialQueue("test.queue");
    std::promise<void> release;
    std::promise<void> finished;
    std::atomic<bool> laterRan = false;
    queue->post([queue, &finished, gate = release.get_future().share()] {
        gate.wait();
        queue->shutdown();
        delete queue;
        finished.set_value();
    });
    queue->post([&laterRan] { laterRan = true; });
    release.set_value();
    finished.get_future().wait();
    EXPECT_FALSE(laterRan);
}

TEST(SerialQueue, ShutdownWaitsForTheRunningTaskAndDropsTheRest) {
    SerialQueue queue("test.queue");
    std::promise<void> started;
    std::atomic<bool> finished = false;
    std::atomic<bool> laterRan = false;
    queue.post([&] {
        started.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    queue.post([&] { laterRan = true; });
    started.get_future().wait();
    queue.shutdown();
    EXPECT_TRUE(finished) << "shutdown() returned while a task was still running";
    queue.post([&] { laterRan = true; });
    EXPECT_FALSE(laterRan);
}

TEST(CallbackGate, CloseWaitsForACallInProgressAndMayComeFromInside) {
    veltrane::CallbackGate gate;
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

    veltrane::CallbackGate selfClosing;
    int calls = 0;
    selfClosing.runIfOpen([&] {
        ++calls;
        selfClosing.close();
    });
    selfClosing.runIfOpen([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}
