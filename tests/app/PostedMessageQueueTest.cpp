#include <gtest/gtest.h>

#include <QSignalSpy>
#include <thread>

#include "app/PostedMessageQueue.h"

namespace {

using Received = std::vector<std::array<long long, 3>>;

Received collect(QSignalSpy& spy) {
    Received result;
    for (const QList<QVariant>& call : spy) {
        result.push_back({call[0].toLongLong(), call[1].toLongLong(), call[2].toLongLong()});
    }
    return result;
}

TEST(PostedMessageQueue, DeliversInOrderOnTheWindowThread) {
    PostedMessageQueue queue;
    QSignalSpy spy(&queue, &PostedMessageQueue::messageArrived);
    std::thread producer([&queue] {
        for (int i = 0; i < 100; ++i) {
            queue.post(1074, i, -i);
        }
    });
    producer.join();
    ASSERT_TRUE(spy.wait(5000)) << "the eventfd must wake the event loop";
    while (spy.count() < 100 && spy.wait(1000)) {
    }
    const Received received = collect(spy);
    ASSERT_EQ(received.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(received[static_cast<std::size_t>(i)], (std::array<long long, 3>{1074, i, -i}));
    }
}

TEST(PostedMessageQueue, AFullQueueDropsNewMessagesAndCountsThem) {
    PostedMessageQueue queue;
    QSignalSpy spy(&queue, &PostedMessageQueue::messageArrived);
    for (std::uint32_t i = 0; i < PostedMessageQueue::kCapacity; ++i) {
        ASSERT_TRUE(queue.post(1, static_cast<std::intptr_t>(i), 0));
    }
    EXPECT_FALSE(queue.post(2, 0, 0));
    EXPECT_EQ(queue.droppedCount(), 1u);
    queue.drain();
    EXPECT_EQ(spy.count(), static_cast<int>(PostedMessageQueue::kCapacity));
    EXPECT_TRUE(queue.post(3, 0, 0)) << "room again once drained";
}

TEST(PostedMessageQueue, MessagesPostedWhileDeliveringWaitForTheNextRound) {
    PostedMessageQueue queue;
    int delivered = 0;
    QObject::connect(&queue, &PostedMessageQueue::messageArrived, [&](int message, qintptr, qintptr) {
        ++delivered;
        if (message == 1) {
            queue.post(2, 0, 0);
        }
    });
    queue.post(1, 0, 0);
    queue.drain();
    EXPECT_EQ(delivered, 1);
    queue.drain();
    EXPECT_EQ(delivered, 2);
}

}  // namespace
