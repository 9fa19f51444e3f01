// The hop between the update's thread and the window's, with the window's thread played by a
// queue that runs only when the worker waits for it: what needs no answer never waits, progress
// is merged, and the window sees every call in the order made.
#include "zelvane/ui/window_thread_side.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <utility>

#include "test_support.h"

namespace zelvane::ui {
namespace {

class QueuedThreadSide final : public WindowThreadSide {
  public:
    using WindowThreadSide::WindowThreadSide;
    std::deque<std::function<void()>> queue;

  protected:
    void RunOnWindowThread(const std::function<void()>& call) override {
        for (; !queue.empty(); queue.pop_front()) queue.front()();
        call();
    }
    void PostToWindowThread(std::function<void()> call) override {
        queue.push_back(std::move(call));
    }
};

TEST(WindowThreadSide, PostsWithoutWaitingMergesProgressAndKeepsTheOrder) {
    test::RecordingWindow window("install");
    QueuedThreadSide side(window);
    side.SetProgressMax(1000);
    for (int value = 1; value <= 1000; ++value) side.SetProgressValue(static_cast<float>(value));
    side.SetPointer(PointerShape::Hourglass);
    EXPECT_TRUE(window.values.empty());
    EXPECT_LT(side.queue.size(), 100u);  // merged: a few, not a thousand, however slow the run
    side.ShowMessage("done", MessageKind::Ok, "");
    EXPECT_EQ(window.values.back(), 1000);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].pointerWhileShown, PointerShape::Hourglass);

    window.onProgress = [](float) { throw std::runtime_error("the bar is gone"); };
    side.SetProgressValue(1);
    EXPECT_THROW(side.Finish(), std::runtime_error);
}

}  // namespace
}  // namespace zelvane::ui
