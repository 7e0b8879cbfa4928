// Ordered work on every core: the files of a walk searched on worker
// threads, each handed out on the caller's thread in list order once its
// search has ended. Memory stays bounded whatever the number of files: at
// most `window` files are in flight past the one the caller waits for, so a
// long file at the head makes the workers wait, and never the other way
// round (the head is always being searched or done: no deadlock).
#ifndef QUORVEX_ENGINE_SEARCHPOOL_H
#define QUORVEX_ENGINE_SEARCHPOOL_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace RegexEngine {

class SearchPool {
public:
    // The number of cores (at least 1).
    static unsigned Cores();

    // `threads` workers (0: one per core); at most `window` files (0: a
    // default of 16 per worker) in flight ahead of the caller.
    SearchPool(unsigned threads, std::size_t window);
    SearchPool(const SearchPool&) = delete;
    SearchPool& operator=(const SearchPool&) = delete;

    // work(i) for each i in [0, count) on a worker, started in increasing
    // order; it answers false when nothing after file i is wanted (a sink
    // answered Stop). deliver(i) on the caller's thread, in order, once
    // work(i) has returned, up to the first file whose work answered false;
    // it answers false to end the run. What work throws is rethrown here, at
    // that file's turn. One worker (or one file): everything on the caller's
    // thread, work and deliver taking turns.
    void Run(std::size_t count, const std::function<bool(std::size_t)>& work,
             const std::function<bool(std::size_t)>& deliver);

    // Whether file `index` is still wanted: false once the run ends before
    // it. Long searches ask now and then, to stop soon after a Stop.
    bool Wanted(std::size_t index) const { return index < limit_.load(std::memory_order_relaxed); }

    unsigned Threads() const { return threads_; }
    std::size_t Window() const { return window_; }

private:
    struct Slot {
        std::size_t finished = ~std::size_t(0);  // the index whose work has returned
        std::exception_ptr thrown;
    };

    void Work(const std::function<bool(std::size_t)>& work);
    void Limit(std::size_t end);  // with the lock held

    const unsigned threads_;
    const std::size_t window_;
    std::atomic<std::size_t> limit_{0};  // files from here on are not wanted
    std::mutex mutex_;
    std::condition_variable workersCv_;
    std::condition_variable callerCv_;
    std::size_t next_ = 0;       // the next file a worker takes
    std::size_t delivering_ = 0; // the file the caller waits for
    bool ended_ = false;
    std::vector<Slot> slots_;    // file i in slot i % window_
};

}  // namespace RegexEngine

#endif
