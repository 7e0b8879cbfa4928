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
