// Ordered work on every core (see Searchpool.h).
#include "Searchpool.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

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

bool SearchPool::Finished(std::size_t from, std::size_t to) const
{
    const std::size_t limit = limit_.load(std::memory_order_relaxed);
    for (std::size_t i = from; i <= to && i < limit; ++i) {
        if (slots_[i % slots_.size()].finished != i)
            return false;
    }
    return true;
}

bool SearchPool::Refilled() const
{
    const std::size_t limit = limit_.load(std::memory_order_relaxed);
    if (ended_ || next_ >= limit)
        return true;
    const std::size_t room = delivering_ + window_ > next_ ? delivering_ + window_ - next_ : 0;
    return room >= std::min(refill_, limit - next_);
}

void SearchPool::Work(const std::function<bool(std::size_t)>& work)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A file is taken once it is wanted and within the window. A worker
        // that finds the window full waits until a batch of places is free.
        if (ended_ || next_ >= limit_.load(std::memory_order_relaxed))
            return;
        if (next_ >= delivering_ + window_) {
            ++workersWaiting_;
            workersCv_.wait(lock, [&] { return Refilled(); });
            --workersWaiting_;
            continue;
        }
        const std::size_t index = next_++;
        {
            // The slot's previous file is done with: delivered, its work
            // returned. Its batches are kept for reuse.
            Slot& slot = SlotOf(index);
            slot.claimed = index;
            slot.closed = false;
            slot.thrown = nullptr;
            for (auto& batch : slot.queue) {
                batch.clear();
                slot.spare.push_back(std::move(batch));
            }
            slot.queue.clear();
        }
        lock.unlock();
        bool more = false;
        std::exception_ptr thrown;
        try {
            more = work(index);
        } catch (...) {
            thrown = std::current_exception();
        }
        lock.lock();
        Slot& slot = SlotOf(index);
        slot.finished = index;
        slot.thrown = thrown;
        if (!more)
            Limit(index + 1);
        // Either the caller waits for this file (in a Run: for the batch it
        // completes), or (after a Stop) workers waiting for the window must
        // see that nothing more is wanted.
        if (streaming_ || !more || (callerWaits_ && Finished(delivering_, waitEnd_)))
            callerCv_.notify_one();
        if (!more)
            workersCv_.notify_all();
    }
}

void SearchPool::Open(std::size_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SlotOf(index).opened = index;
    callerCv_.notify_one();
}

bool SearchPool::Put(std::size_t index, std::vector<std::uint64_t>& batch)
{
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = SlotOf(index);
    if (!batch.empty()) {
        slot.queue.push_back(std::move(batch));
        batch = std::vector<std::uint64_t>();
        if (!slot.spare.empty()) {
            batch = std::move(slot.spare.back());
            slot.spare.pop_back();
        }
        callerCv_.notify_one();
    }
    const auto wanted = [&] {
        return !ended_ && !slot.closed && index < limit_.load(std::memory_order_relaxed);
    };
    workersCv_.wait(lock, [&] { return !wanted() || slot.queue.size() < batchesQueued; });
    return wanted();
}

bool SearchPool::Take(std::size_t index, std::vector<std::uint64_t>& batch)
{
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = SlotOf(index);
    if (batch.capacity() > 0) {
        batch.clear();
        slot.spare.push_back(std::move(batch));
        batch = std::vector<std::uint64_t>();
    }
    callerCv_.wait(lock, [&] { return !slot.queue.empty() || slot.finished == index; });
    if (slot.queue.empty()) {
        if (slot.thrown) {
            std::exception_ptr thrown = std::move(slot.thrown);
            slot.thrown = nullptr;
            std::rethrow_exception(thrown);
        }
        return false;
    }
    const bool wasFull = slot.queue.size() >= batchesQueued;
    batch = std::move(slot.queue.front());
    slot.queue.pop_front();
    if (wasFull)
        workersCv_.notify_all();  // the file's work waits for room
    return true;
}

void SearchPool::Run(std::size_t count, const std::function<bool(std::size_t)>& work,
                     const std::function<bool(std::size_t)>& deliver)
{
    Start(0, count, false, work, deliver);
}

bool SearchPool::RunStreaming(std::size_t first, std::size_t count, const std::function<bool(std::size_t)>& work,
                              const std::function<bool(std::size_t)>& deliver)
{
    return Start(first, count, true, work, deliver);
}

bool SearchPool::Start(std::size_t first, std::size_t count, bool streaming,
                       const std::function<bool(std::size_t)>& work,
                       const std::function<bool(std::size_t)>& deliver)
{
    limit_.store(count, std::memory_order_relaxed);
    if (first >= count)
        return true;
    if (!streaming && (threads_ <= 1 || count - first <= 1)) {
        for (std::size_t i = first; i < count; ++i) {
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
        return true;
    }
    next_ = delivering_ = first;
    ended_ = false;
    streaming_ = streaming;
    callerWaits_ = false;
    workersWaiting_ = 0;
    slots_.clear();
    slots_.resize(std::min(window_, count - first));
    // A batch is a quarter of the window, at most 8 files: the caller hands
    // out what is done while the workers go on with the rest of the window.
    batch_ = std::max<std::size_t>(1, std::min<std::size_t>(8, slots_.size() / 4));
    refill_ = std::max<std::size_t>(1, window_ / 4);
    std::vector<std::thread> workers;
    std::exception_ptr thrown;
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(threads_, count - first));
    try {
        try {
            for (unsigned t = 0; t < threads; ++t)
                workers.emplace_back([this, &work] { Work(work); });
        } catch (const std::system_error&) {
            // Fewer threads than asked: those started do the work.
            if (workers.empty()) {
                limit_.store(0, std::memory_order_relaxed);
                if (streaming)
                    return false;
                throw;
            }
        }
        for (std::size_t i = first;; ++i) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (i >= limit_.load(std::memory_order_relaxed))
                break;
            Slot& slot = SlotOf(i);
            if (streaming) {
                callerCv_.wait(lock, [&] { return slot.finished == i || slot.opened == i; });
            } else if (slot.finished != i) {
                // Sleep until the next batch of files is worked, then hand
                // them out one after the other without waiting.
                waitEnd_ = i + batch_ - 1;
                callerWaits_ = true;
                callerCv_.wait(lock, [&] { return Finished(i, waitEnd_); });
                callerWaits_ = false;
            }
            // A work that threw before its file was opened hands nothing out;
            // after, the file's delivery meets the exception in Take.
            if (slot.opened != i && slot.thrown) {
                thrown = slot.thrown;
                slot.thrown = nullptr;
            }
            lock.unlock();
            bool more = false;
            if (!thrown)
                more = deliver(i);  // may throw: the workers are stopped below
            lock.lock();
            slot.closed = true;
            if (!more) {
                Limit(i + 1);
                workersCv_.notify_all();
                break;
            }
            if (streaming && slot.finished != i) {
                // The delivery ended early: the work stops at its next Put.
                workersCv_.notify_all();
                callerCv_.wait(lock, [&] { return slot.finished == i; });
            }
            delivering_ = i + 1;
            if (streaming || (workersWaiting_ > 0 && Refilled()))
                workersCv_.notify_all();
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
    return true;
}

}  // namespace RegexEngine
