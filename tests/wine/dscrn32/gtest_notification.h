// GoogleTest's Notification for the win32 thread model of MinGW GCC 12,
// which has no std::mutex: a manual-reset event does the same.  Included
// ahead of GoogleTest's own headers (with GTEST_HAS_NOTIFICATION_ set).
#pragma once
#if defined(__cplusplus)
#include <windows.h>
namespace testing {
namespace internal {
class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};
}  // namespace internal
}  // namespace testing
#endif
