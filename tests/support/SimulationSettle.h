#pragma once

#include <atomic>
#include <memory>

#include "platform/detail/NotificationThread.h"
#include "support/MessageLoop.h"

namespace tarvik::test
{
/** Pumps the message loop until the stand-in's notification thread has finished the work it
    had started. A reset drops the waiting work only: a listener call already under way could
    otherwise wait for the message-manager lock and reach the sink the next test registers.
    Returns false when that work does not finish in time. */
inline bool settleNotificationThread()
{
    auto reached = std::make_shared<std::atomic<bool>> (false);
    tarvik::platform::detail::notificationThread::schedule ([reached] { *reached = true; });
    return pumpUntil ([reached] { return reached->load(); }, 10000);
}
} // namespace tarvik::test
