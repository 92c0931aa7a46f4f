#include "platform/dispatch/SerialQueue.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
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
