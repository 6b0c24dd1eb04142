// GoogleTest for mingw-w64 with win32 threads, which give no std::mutex: its
// Notification, which starts the threads of GoogleTest's own tests and is never used by
// the suite, waits on an atomic flag instead.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    void Notify() { notified_.store(true); }
    void WaitForNotification() const {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
