#include "FerlowHost/IOQueue.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

using namespace std::chrono_literals;

TEST(IOQueueTest, CallsRunOnTheQueueAndATaskThatThrowsDoesNotStopIt)
{
    IOQueue queue;
    EXPECT_FALSE(queue.isCurrentThread());
    EXPECT_TRUE(queue.call([&] { return queue.isCurrentThread(); }));
    EXPECT_THROW(queue.call([]() -> int { throw std::invalid_argument("task"); }), std::invalid_argument);
    queue.post([] { throw std::runtime_error("escapes the task"); });
    EXPECT_EQ(queue.call([] { return 7; }), 7);
    EXPECT_THROW(queue.call([&] { queue.call([] { }); }), std::logic_error);

    // A queue that does not answer in time: the call gives up, and a task
    // that had not started by then never runs.
    std::promise<void> release;
    queue.post([done = release.get_future().share()] { done.wait(); });
    bool ran = false;
    EXPECT_THROW(queue.call([&ran] { ran = true; }, 20ms), std::runtime_error);
    release.set_value();
    queue.call([] { });
    EXPECT_FALSE(ran);

    std::promise<bool> later;
    auto onQueue = later.get_future();
    queue.after(1ms, [&] { later.set_value(queue.isCurrentThread()); });
    ASSERT_EQ(onQueue.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(onQueue.get());

    queue.stop();
    queue.stop();
    EXPECT_THROW(queue.call([] { }), std::runtime_error);
}

} // namespace
} // namespace ferlow
