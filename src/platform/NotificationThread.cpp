#include "platform/detail/NotificationThread.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace tarvik::platform::detail::notificationThread
{
namespace
{
using Clock = std::chrono::steady_clock;

class Worker final
{
public:
    ~Worker()
    {
        {
            const std::lock_guard<std::mutex> guard (lock);
            stopping = true;
            queue.clear();
        }
        wake.notify_all();
        if (thread.joinable())
            thread.join();
    }

    void schedule (std::function<void()> work, int delayMilliseconds)
    {
        {
            const std::lock_guard<std::mutex> guard (lock);
            if (! thread.joinable())
            {
                thread = std::thread ([this] { run(); });
                threadId = thread.get_id();
            }
            const auto due = Clock::now() + std::chrono::milliseconds (delayMilliseconds);
            queue.emplace (std::make_pair (due, sequence++), std::move (work));
        }
        wake.notify_all();
    }

    void clear()
    {
        const std::lock_guard<std::mutex> guard (lock);
        queue.clear();
    }

    bool isCurrentThread()
    {
        const std::lock_guard<std::mutex> guard (lock);
        return std::this_thread::get_id() == threadId;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> guard (lock);

        while (! stopping)
        {
            if (queue.empty())
            {
                wake.wait (guard);
                continue;
            }

            auto first = queue.begin();
            const auto due = first->first.first; // the node may go while we wait

            if (due > Clock::now())
            {
                wake.wait_until (guard, due);
                continue;
            }

            auto work = std::move (first->second);
            queue.erase (first);
            guard.unlock();
            work();
            guard.lock();
        }
    }

    std::mutex lock;
    std::condition_variable wake;
    std::map<std::pair<Clock::time_point, unsigned long>, std::function<void()>> queue;
    unsigned long sequence = 0;
    bool stopping = false;
    std::thread::id threadId;
    std::thread thread;
};

Worker& worker()
{
    static Worker w;
    return w;
}
} // namespace

void schedule (std::function<void()> work, int delayMilliseconds) { worker().schedule (std::move (work), delayMilliseconds); }
void clear() { worker().clear(); }
bool isCurrentThread() { return worker().isCurrentThread(); }
} // namespace tarvik::platform::detail::notificationThread
