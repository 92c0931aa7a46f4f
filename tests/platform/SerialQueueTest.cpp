#include "platform/dispatch/SerialQueue.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

using veltrane::SerialQueue;

TEST(SerialQueue, RunsTasksInOrderOnOneThreadAndThoseTheyPostAfterwards) {
    SerialQueue queue("test.queue");
    std::vector<int> order;
    std::atomic<bool> sameThread{true};
    std::thread::id firstThread;
    std::promise<void> release;
    // Hold the queue until everything below is posted, so the order is the posting order.
    queue.post([gate = release.get_future().share(), &firstThread] {
        firstThread = std::this_thread::get_id();
        gate.wait();
    });
    for (int i = 0; i < 100; ++i) {
        queue.post([&, i] {
            sameThread = sameThread && std::this_thread::get_id() == firstThread && queue.isCurrent();
            order.push_back(i);
            if (i == 0) {
                queue.post([&] { order.push_back(100); });
            }
        });
    }
    release.set_value();
    queue.waitUntilDrained();
    std::vector<int> expected(101);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
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
