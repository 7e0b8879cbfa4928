// Ordered work on every core: the files of a walk searched on worker
// threads, each handed out on the caller's thread in list order. Memory stays
// bounded whatever the number of files: at most `window` files are in flight
// from the one the caller waits for on, so a long file at the head makes the
// workers wait, and never the other way round (the head is always being
// searched or done: no deadlock).
//
// A file is handed out once its work has returned, or, in a streaming run, as
// soon as its work has opened it: the caller then takes the file's results in
// batches while the file is still being searched, at most a few batches
// queued per file (a worker whose queue is full waits), so one file with many
// results never holds them all in memory.
#ifndef QUORVEX_ENGINE_SEARCHPOOL_H
#define QUORVEX_ENGINE_SEARCHPOOL_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
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
    // default of 16 per worker) in flight from the caller's on.
    SearchPool(unsigned threads, std::size_t window);
    SearchPool(const SearchPool&) = delete;
    SearchPool& operator=(const SearchPool&) = delete;

    // work(i) for each i in [0, count) on a worker, started in increasing
    // order; it answers false when nothing after file i is wanted (a sink
    // answered Stop). deliver(i) on the caller's thread, in order, once
    // work(i) has returned, up to the first file whose work answered false;
    // it answers false to end the run. What work throws is rethrown here, at
    // that file's turn. One worker (or one file): everything on the caller's
    // thread, work and deliver taking turns. Where fewer threads than asked
    // can be started, those started do the work; where none can, the
    // std::system_error is thrown before anything was worked.
    void Run(std::size_t count, const std::function<bool(std::size_t)>& work,
             const std::function<bool(std::size_t)>& deliver);

    // A streaming run over the files [first, count): as Run, but deliver(i)
    // starts as soon as work(i) has called Open(i) (or has returned), and
    // takes the results work(i) Puts with Take(i). The work always runs on a
    // worker (at least one is started, even for one file), since a work
    // waiting for room in its queue needs the caller taking from it. After
    // deliver(i) returns the file is closed: its work's next Put answers
    // false, and the run waits for that work to return before the file's
    // place in the window goes to another. False when no thread could be
    // started (nothing was worked or delivered); what else goes wrong is
    // thrown as by Run.
    bool RunStreaming(std::size_t first, std::size_t count, const std::function<bool(std::size_t)>& work,
                      const std::function<bool(std::size_t)>& deliver);

    // The work's side of a streaming run. Open: file `index` may be handed
    // out from now on. Put: queues `batch` (when not empty) for the caller,
    // leaving an emptied earlier batch (or nothing) in it; waits while the
    // file's queue is full; false once the file is no longer wanted (its
    // delivery ended, or the run did).
    void Open(std::size_t index);
    bool Put(std::size_t index, std::vector<std::uint64_t>& batch);
    // The caller's side, within deliver(index): the next batch, in the order
    // put (the previous one's storage is reused); waits for it. False once
    // the work has returned and every batch was taken; then what the work
    // threw is rethrown.
    bool Take(std::size_t index, std::vector<std::uint64_t>& batch);

    // Whether file `index` is still wanted: false once the run ends before
    // it. Long searches ask now and then, to stop soon after a Stop.
    bool Wanted(std::size_t index) const { return index < limit_.load(std::memory_order_relaxed); }

    unsigned Threads() const { return threads_; }
    std::size_t Window() const { return window_; }

    // Batches queued per file in a streaming run before its work waits.
    static constexpr std::size_t batchesQueued = 4;

private:
    struct Slot {
        std::size_t claimed = ~std::size_t(0);   // the index whose work has begun
        std::size_t opened = ~std::size_t(0);    // the index that may be handed out early
        std::size_t finished = ~std::size_t(0);  // the index whose work has returned
        bool closed = false;                     // its delivery has ended
        std::exception_ptr thrown;
        std::deque<std::vector<std::uint64_t>> queue;   // full batches, oldest first
        std::vector<std::vector<std::uint64_t>> spare;  // emptied batches for reuse
    };

    bool Start(std::size_t first, std::size_t count, bool streaming, const std::function<bool(std::size_t)>& work,
               const std::function<bool(std::size_t)>& deliver);
    void Work(const std::function<bool(std::size_t)>& work);
    void Limit(std::size_t end);  // with the lock held
    // With the lock held: whether the files [from, to] (up to the last one
    // wanted) have all been worked.
    bool Finished(std::size_t from, std::size_t to) const;
    // With the lock held: whether workers waiting for room in the window
    // should wake: room for `refill_` files (or for all that are left).
    bool Refilled() const;
    Slot& SlotOf(std::size_t index) { return slots_[index % slots_.size()]; }

    const unsigned threads_;
    const std::size_t window_;
    std::atomic<std::size_t> limit_{0};  // files from here on are not wanted
    std::mutex mutex_;
    std::condition_variable workersCv_;
    std::condition_variable callerCv_;
    std::size_t next_ = 0;       // the next file a worker takes
    std::size_t delivering_ = 0; // the file the caller waits for
    bool ended_ = false;
    bool streaming_ = false;
    // Run: the caller sleeps until a batch of files is worked, and a worker
    // that finds the window full until a batch of places is free, so that a
    // thread sleeps and wakes once per batch of files, not per file.
    std::size_t batch_ = 1;      // files the caller waits for at once
    std::size_t refill_ = 1;     // places a waiting worker waits for
    std::size_t waitEnd_ = 0;    // the caller sleeps until [delivering_, waitEnd_] are worked
    bool callerWaits_ = false;
    unsigned workersWaiting_ = 0;  // workers waiting for room in the window
    std::vector<Slot> slots_;    // file i in slot i % slots_.size()
};

}  // namespace RegexEngine

#endif
