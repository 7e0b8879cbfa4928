// The ordered pool: every file searched once, handed out in order on the
// caller's thread, never more than the window ahead, and a Stop (from a
// file's work or from the caller) ends the run at that file.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Searchpool.h"

using RegexEngine::SearchPool;

namespace {

struct PoolRun {
    std::vector<std::size_t> delivered;
    std::vector<int> worked;          // times work ran per index
    std::size_t furthestAhead = 0;    // largest index - delivered count seen by a work
    bool workOnCaller = false;        // a work ran on the caller's thread
    bool deliverOffCaller = false;    // a deliver ran elsewhere
};

// Runs `count` files with work times from a seeded generator; `stopWork` and
// `stopDeliver` (when below count) answer false at that index.
PoolRun RunPool(unsigned threads, std::size_t window, std::size_t count, std::size_t stopWork = ~std::size_t(0),
            std::size_t stopDeliver = ~std::size_t(0))
{
    PoolRun run;
    run.worked.assign(count, 0);
    std::vector<std::atomic<int>> worked(count);
    std::atomic<std::size_t> deliveredCount{0};
    std::atomic<std::size_t> furthest{0};
    std::atomic<bool> workOnCaller{false};
    const std::thread::id caller = std::this_thread::get_id();
    SearchPool pool(threads, window);
    pool.Run(
        count,
        [&](std::size_t i) {
            ++worked[i];
            if (std::this_thread::get_id() == caller && pool.Threads() > 1 && count > 1)
                workOnCaller = true;
            const std::size_t ahead = i - deliveredCount.load();
            std::size_t seen = furthest.load();
            while (ahead > seen && !furthest.compare_exchange_weak(seen, ahead)) {
            }
            // Uneven files: now and then a long one.
            std::mt19937 random(static_cast<unsigned>(i));
            if (random() % 7 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            return i != stopWork;
        },
        [&](std::size_t i) {
            if (std::this_thread::get_id() != caller)
                run.deliverOffCaller = true;
            run.delivered.push_back(i);
            deliveredCount = i + 1;
            return i != stopDeliver;
        });
    for (std::size_t i = 0; i < count; ++i)
        run.worked[i] = worked[i].load();
    run.furthestAhead = furthest.load();
    run.workOnCaller = workOnCaller.load();
    return run;
}

std::vector<std::size_t> Upto(std::size_t n)
{
    std::vector<std::size_t> all(n);
    for (std::size_t i = 0; i < n; ++i)
        all[i] = i;
    return all;
}

}  // namespace

TEST(SearchPool, EveryFileOnceInOrderWithinTheWindow)
{
    const struct {
        unsigned threads;
        std::size_t window;
        std::size_t count;
    } rows[] = {{1, 0, 50}, {2, 1, 40}, {2, 2, 200}, {4, 3, 300}, {4, 0, 500}, {3, 1000, 20}, {4, 4, 1}, {4, 4, 0}};
    for (const auto& row : rows) {
        const PoolRun run = RunPool(row.threads, row.window, row.count);
        EXPECT_EQ(run.delivered, Upto(row.count)) << row.threads << " threads, window " << row.window;
        for (std::size_t i = 0; i < row.count; ++i) {
            EXPECT_EQ(run.worked[i], 1) << "file " << i << ", " << row.threads << " threads";
        }
        const std::size_t window = row.window == 0 ? 16 * row.threads : row.window;
        if (row.threads > 1) {
            EXPECT_LT(run.furthestAhead, window) << row.threads << " threads, window " << row.window;
        }
        EXPECT_FALSE(run.workOnCaller);
        EXPECT_FALSE(run.deliverOffCaller);
    }
}

// A Stop from file k's work: files 0..k are handed out, nothing after; one
// from the caller at k: the same.
TEST(SearchPool, StopEndsTheRunAtThatFile)
{
    const struct {
        unsigned threads;
        std::size_t window;
        std::size_t stopWork, stopDeliver;
    } rows[] = {{1, 0, 17, ~std::size_t(0)}, {4, 8, 17, ~std::size_t(0)}, {2, 1, 0, ~std::size_t(0)},
                {4, 8, ~std::size_t(0), 23}, {4, 64, 99, ~std::size_t(0)}, {3, 5, 40, 30}};
    for (const auto& row : rows) {
        const PoolRun run = RunPool(row.threads, row.window, 100, row.stopWork, row.stopDeliver);
        const std::size_t last = std::min(row.stopWork, row.stopDeliver);
        EXPECT_EQ(run.delivered, Upto(last + 1)) << row.threads << " threads, stop at " << last;
        for (std::size_t i = 0; i <= last; ++i) {
            EXPECT_EQ(run.worked[i], 1) << "file " << i;
        }
        // Files after the stop may have started (they were in flight), never
        // further than the window.
        for (std::size_t i = last + 1 + (row.threads > 1 ? row.window : 0); i < 100; ++i) {
            EXPECT_EQ(run.worked[i], 0) << "file " << i << " after a stop at " << last;
        }
    }
}

// What a work throws comes out of Run on the caller's thread, after the
// files before it were handed out; the workers are joined.
TEST(SearchPool, AThrowingFileEndsTheRunThere)
{
    for (const unsigned threads : {1u, 2u, 4u}) {
        SearchPool pool(threads, 4);
        std::vector<std::size_t> delivered;
        EXPECT_THROW(pool.Run(
                         50,
                         [](std::size_t i) {
                             if (i == 12)
                                 throw std::runtime_error("file 12");
                             return true;
                         },
                         [&](std::size_t i) {
                             delivered.push_back(i);
                             return true;
                         }),
                     std::runtime_error);
        EXPECT_EQ(delivered, Upto(12)) << threads << " threads";
        EXPECT_FALSE(pool.Wanted(13));
    }
}

// Files after a stop that are still being searched see Wanted turn false
// (their sinks end them at the next block).
TEST(SearchPool, FilesInFlightAfterAStopAreNoLongerWanted)
{
    SearchPool pool(2, 4);
    std::atomic<bool> sawUnwanted{false};
    std::atomic<bool> started{false};
    pool.Run(
        4,
        [&](std::size_t i) {
            if (i == 0) {
                // The Stop comes once file 1 is in flight (a bounded wait:
                // sleeps may be far shorter or longer than asked).
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!started && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                return false;
            }
            started = true;
            // File 1 waits (bounded) until file 0's Stop is known.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (pool.Wanted(i) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            if (!pool.Wanted(i))
                sawUnwanted = true;
            return true;
        },
        [](std::size_t) { return true; });
    EXPECT_TRUE(sawUnwanted.load());
}

// The caller hands files out a batch at a time, but a file whose work ends
// the run (a Stop: -q after a match) is handed out without waiting for the
// rest of its batch. Here file 0 stops once file 1 is being worked, and file
// 1's work waits (bounded) until file 0 has been handed out: a caller that
// waited for the batch would hand it out only after that wait ran out.
TEST(SearchPool, AFileThatStopsTheRunIsHandedOutWithoutItsBatch)
{
    SearchPool pool(2, 32);
    std::atomic<bool> started{false}, delivered{false}, deliveredFirst{false};
    pool.Run(
        20,
        [&](std::size_t i) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            if (i == 0) {
                while (!started && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                return false;
            }
            started = true;
            while (!delivered && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            if (i == 1)
                deliveredFirst = delivered.load();
            return true;
        },
        [&](std::size_t) {
            delivered = true;
            return true;
        });
    EXPECT_TRUE(started.load());
    EXPECT_TRUE(deliveredFirst.load());
}

namespace {

// A streaming run over [first, count): file i's work opens it and puts
// `batches(i)` batches of one value each (i * 1000 + batch); the caller takes
// them while the file is searched. `closeAt` (when below count) is a file
// whose delivery ends after its first batch; `stopAt` one whose delivery
// answers false there; `throwAt` one whose work throws after its batches.
struct StreamRow {
    unsigned threads;
    std::size_t first, count;
    std::size_t closeAt = ~std::size_t(0), stopAt = ~std::size_t(0), throwAt = ~std::size_t(0);
};

struct StreamRun {
    std::vector<std::size_t> delivered;
    std::vector<std::vector<std::uint64_t>> taken;  // per file, in the order taken
    std::vector<int> worked;
    std::size_t mostQueued = 0;   // most batches put and not yet taken, any file
    std::size_t mostInFlight = 0; // most files begun and not yet delivered
    bool threw = false;
};

std::size_t Batches(std::size_t i)
{
    return i % 3 == 0 ? 3 * SearchPool::batchesQueued + 2 : i % 3;  // some files far more than the queue holds
}

StreamRun RunStreaming(const StreamRow& row)
{
    StreamRun run;
    run.taken.resize(row.count);
    std::vector<std::atomic<int>> worked(row.count);
    std::vector<std::atomic<std::size_t>> queued(row.count);
    std::atomic<std::size_t> mostQueued{0}, mostInFlight{0}, begun{0}, done{0};
    const auto raise = [](std::atomic<std::size_t>& most, std::size_t value) {
        std::size_t seen = most.load();
        while (value > seen && !most.compare_exchange_weak(seen, value)) {
        }
    };
    SearchPool pool(row.threads, std::size_t(row.threads) + 1);
    try {
        const bool started = pool.RunStreaming(
            row.first, row.count,
            [&](std::size_t i) {
                ++worked[i];
                raise(mostInFlight, ++begun - done.load());
                pool.Open(i);
                std::vector<std::uint64_t> batch;
                for (std::size_t b = 0; b < Batches(i); ++b) {
                    batch.assign(1, i * 1000 + b);
                    raise(mostQueued, ++queued[i]);
                    if (!pool.Put(i, batch))
                        return true;
                }
                if (i == row.throwAt)
                    throw std::runtime_error("file");
                return true;
            },
            [&](std::size_t i) {
                run.delivered.push_back(i);
                std::vector<std::uint64_t> batch;
                while (pool.Take(i, batch)) {
                    --queued[i];
                    run.taken[i].push_back(batch.at(0));
                    if (i == row.closeAt)
                        break;
                    if (i == row.stopAt)
                        return false;
                }
                ++done;
                return true;
            });
        EXPECT_TRUE(started);
    } catch (const std::runtime_error&) {
        run.threw = true;
    }
    for (std::size_t i = 0; i < row.count; ++i)
        run.worked.push_back(worked[i].load());
    run.mostQueued = mostQueued.load();
    run.mostInFlight = mostInFlight.load();
    return run;
}

}  // namespace

// Every file from `first` on is delivered once, in order, with all its
// batches in the order put, though most files put more batches than the
// queue holds (the caller takes them while the work goes on); the queue and
// the window stay within their bounds.
TEST(SearchPool, StreamingHandsOutEachFileWhileItIsSearched)
{
    const StreamRow rows[] = {{1, 0, 7}, {2, 0, 30}, {4, 0, 50}, {3, 12, 40}, {2, 5, 6}, {4, 9, 9}};
    for (const StreamRow& row : rows) {
        const StreamRun run = RunStreaming(row);
        std::vector<std::size_t> expected;
        for (std::size_t i = row.first; i < row.count; ++i)
            expected.push_back(i);
        EXPECT_EQ(run.delivered, expected) << row.threads << " threads from " << row.first;
        for (std::size_t i = 0; i < row.count; ++i) {
            EXPECT_EQ(run.worked[i], i < row.first ? 0 : 1) << "file " << i;
            std::vector<std::uint64_t> batches;
            for (std::size_t b = 0; i >= row.first && b < Batches(i); ++b)
                batches.push_back(i * 1000 + b);
            EXPECT_EQ(run.taken[i], batches) << "file " << i;
        }
        // A work counts its batch before Put queues it: one more than the
        // queue holds may be seen.
        EXPECT_LE(run.mostQueued, SearchPool::batchesQueued + 1) << row.threads << " threads";
        EXPECT_LE(run.mostInFlight, std::size_t(row.threads) + 1) << row.threads << " threads";
        EXPECT_FALSE(run.threw);
    }
}

// A delivery that ends part way closes its file (the work's next Put answers
// false, the run goes on with the next file); one that answers false ends
// the run there; a work that throws after its batches has them delivered,
// then the exception comes out of the run.
TEST(SearchPool, StreamingCloseStopAndThrow)
{
    StreamRow close{3, 0, 20};
    close.closeAt = 6;  // a file with more batches than the queue holds
    StreamRun run = RunStreaming(close);
    EXPECT_EQ(run.delivered.size(), 20u);
    EXPECT_EQ(run.taken[6], std::vector<std::uint64_t>{6000});
    EXPECT_EQ(run.taken[7], std::vector<std::uint64_t>{7000});

    for (const unsigned threads : {1u, 2u, 4u}) {
        StreamRow stop{threads, 2, 40};
        stop.stopAt = 9;
        run = RunStreaming(stop);
        EXPECT_EQ(run.delivered.back(), 9u) << threads << " threads";
        EXPECT_EQ(run.taken[9], std::vector<std::uint64_t>{9000});
        for (std::size_t i = 10 + threads + 1; i < 40; ++i) {
            EXPECT_EQ(run.worked[i], 0) << "file " << i << " after a stop at 9";
        }

        StreamRow thrown{threads, 0, 30};
        thrown.throwAt = 12;
        run = RunStreaming(thrown);
        EXPECT_TRUE(run.threw);
        EXPECT_EQ(run.delivered.back(), 12u) << threads << " threads";
        EXPECT_EQ(run.taken[12].size(), Batches(12));
    }
}
