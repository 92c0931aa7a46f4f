#include "platform/dispatch/SerialQueue.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <vector>

using veltrane::SerialQueue;

TEST(SerialQueue, RunsTasksInOrderOnOneThread) {
    SerialQueue queue("test.queue");
    std::vector<int> order;
    std::thread::id firstThread;
    std::atomic<bool> sameThread{true};
    for (int i = 0; i < 1000; ++i) {
        queue.post([&, i] {
            if (i == 0) {
                firstThread = std::this_thread::get_id();
            } else if (std::this_thread::get_id() != firstThread) {
                sameThread = false;
            }
            EXPECT_TRUE(queue.isCurrent());
            order.push_back(i);
        });
    }
    queue.waitUntilDrained();
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_TRUE(sameThread);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, DestructionRunsEveryPostedTask) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("test.queue");
        for (int i = 0; i < 100; ++i) {
            queue.post([&] { ++ran; });
        }
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, TasksPostedFromTasksRunAfterwards) {
    SerialQueue queue("test.queue");
    std::vector<int> order;
    std::promise<void> release;
    // Hold the queue until both tasks below are posted, so their order is the posting order.
    queue.post([gate = release.get_future().share()] { gate.wait(); });
    queue.post([&] {
        order.push_back(1);
        queue.post([&] { order.push_back(3); });
    });
    queue.post([&] { order.push_back(2); });
    release.set_value();
    queue.waitUntilDrained();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueue, QueueDestroyedByItsOwnTaskStillRunsWhatIsLeft) {
    // The thread goes on after the queue object is gone; a sanitizer build sees any touch of it.
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
