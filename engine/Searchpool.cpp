// Ordered work on every core (see Searchpool.h).
#include "Searchpool.h"

#include <algorithm>
#include <thread>

namespace RegexEngine {

unsigned SearchPool::Cores()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

SearchPool::SearchPool(unsigned threads, std::size_t window)
    : threads_(threads == 0 ? Cores() : threads), window_(window == 0 ? std::size_t(16) * threads_ : window)
{
}

void SearchPool::Limit(std::size_t end)
{
    if (end < limit_.load(std::memory_order_relaxed))
        limit_.store(end, std::memory_order_relaxed);
}

void SearchPool::Work(const std::function<bool(std::size_t)>& work)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A file is taken once it is wanted and within the window.
        workersCv_.wait(lock, [&] {
            return ended_ || next_ >= limit_.load(std::memory_order_relaxed) || next_ < delivering_ + window_;
        });
        if (ended_ || next_ >= limit_.load(std::memory_order_relaxed))
            return;
        const std::size_t index = next_++;
        lock.unlock();
        bool more = false;
        std::exception_ptr thrown;
        try {
            more = work(index);
        } catch (...) {
            thrown = std::current_exception();
        }
        lock.lock();
        // Fewer files than the window: one slot each.
        Slot& slot = slots_[index % slots_.size()];
        slot.finished = index;
        slot.thrown = thrown;
        if (!more)
            Limit(index + 1);
        // Either the caller waits for this file, or (after a Stop) workers
        // waiting for the window must see that nothing more is wanted.
        callerCv_.notify_one();
        if (!more)
            workersCv_.notify_all();
    }
}

void SearchPool::Run(std::size_t count, const std::function<bool(std::size_t)>& work,
                     const std::function<bool(std::size_t)>& deliver)
{
    limit_.store(count, std::memory_order_relaxed);
    if (threads_ <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            bool more = false;
            try {
                const bool wanted = work(i);
                more = deliver(i) && wanted;
            } catch (...) {
                limit_.store(0, std::memory_order_relaxed);
                throw;
            }
            if (!more) {
                limit_.store(i + 1, std::memory_order_relaxed);
                break;
            }
        }
        return;
    }
    next_ = delivering_ = 0;
    ended_ = false;
    slots_.assign(std::min(window_, count), Slot());
    const std::size_t ring = slots_.size();
    std::vector<std::thread> workers;
    std::exception_ptr thrown;
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(threads_, count));
    try {
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back([this, &work] { Work(work); });
        for (std::size_t i = 0;; ++i) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (i >= limit_.load(std::memory_order_relaxed))
                break;
            Slot& slot = slots_[i % ring];
            callerCv_.wait(lock, [&] { return slot.finished == i; });
            thrown = slot.thrown;
            slot.thrown = nullptr;
            lock.unlock();
            bool more = false;
            if (!thrown)
                more = deliver(i);  // may throw: the workers are stopped below
            lock.lock();
            delivering_ = i + 1;
            if (!more)
                Limit(i + 1);
            workersCv_.notify_all();
            if (!more)
                break;
        }
    } catch (...) {
        thrown = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        Limit(0);
    }
    workersCv_.notify_all();
    for (std::thread& worker : workers)
        worker.join();
    if (thrown)
        std::rethrow_exception(thrown);
}

}  // namespace RegexEngine
