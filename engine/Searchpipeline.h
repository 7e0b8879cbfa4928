// The look-ahead: worker threads load and search the next files of a walk
// while the caller's thread hands out the current file's matches, in file
// order. Memory stays bounded whatever the number of files or matches: at
// most `workers + 1` files are in flight, each in a reused buffer with at most
// a few batches of matches queued; a worker whose queue is full waits.
#ifndef QUORVEX_ENGINE_SEARCHPIPELINE_H
#define QUORVEX_ENGINE_SEARCHPIPELINE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Filebuffer.h"
#include "Filesearcher.h"

namespace RegexEngine {

class SearchPipeline {
public:
    enum class Mode {
        AllMatches,  // every match of every file
        FirstMatch   // at most one match per file: whether it has any
    };

    // Starts `workers` (at least 1) threads over `files`, from file `first`
    // on. `pattern` and `files` must outlive the pipeline.
    // Files larger than `rule` allows to read are mapped, or left to the
    // caller to search in windows (View::streamed).
    SearchPipeline(const CompiledPattern& pattern, unsigned flags, Mode mode,
                   const std::vector<std::string>& files, unsigned workers, std::size_t first = 0,
                   const LargeFileRule& rule = LargeFileRule());
    // Stops the workers and waits for them (a worker finishes the file search
    // it is in before it notices).
    ~SearchPipeline();
    SearchPipeline(const SearchPipeline&) = delete;
    SearchPipeline& operator=(const SearchPipeline&) = delete;

    // The caller's side, one file after the other in list order:
    // Begin(i), Next() until it returns null, End(), Finish().
    struct View {
        bool readable;  // false: skipped (not a regular file, or unreadable), or streamed
        bool streamed;  // too large to read or map: the caller searches it in windows, no match is queued
        const char* data;
        std::size_t size;
        const RegexPlatform::FileState* state;  // the file as it was when read
    };
    View Begin(std::size_t index);       // waits until file `index` is loaded
    const std::uint64_t* Next();         // the next match's offsets, null at the end of the file
    SearchEnd End(std::string& error);   // how the file's search ended; rethrows what a worker caught
    void Finish();                       // done with the file: its buffer goes to a later file, a mapping is given back
    void Stop();                         // no more files are wanted
    // After Begin of a file that is not readable: the platform's error code
    // from reading it.
    unsigned LoadError() const { return slots_[consumerAt_ % window_].loadError; }

private:
    struct Slot {
        std::size_t index = ~std::size_t(0);
        bool loaded = false;
        bool readable = false;
        bool streamed = false;
        bool done = false;
        unsigned loadError = 0;
        SearchEnd end = SearchEnd::Finished;
        std::string error;
        std::exception_ptr thrown;
        FileBuffer file;
        std::deque<std::vector<std::uint64_t>> queue;   // full batches, oldest first
        std::vector<std::vector<std::uint64_t>> spare;  // emptied batches for reuse
    };
    class WorkerSink;

    void Work();
    void Search(Slot& slot);
    void NotifyConsumer();
    void NotifyWorkers();

    const CompiledPattern& pattern_;
    const LargeFileRule rule_;
    const unsigned flags_;
    const Mode mode_;
    const std::vector<std::string>& files_;
    const std::size_t stride_;       // offsets per match
    const std::size_t batchValues_;  // offsets per batch
    const std::size_t window_;       // files in flight

    std::mutex mutex_;
    std::condition_variable consumerCv_;
    std::condition_variable workerCv_;
    bool stop_ = false;
    bool consumerWaiting_ = false;
    unsigned workersWaiting_ = 0;
    std::size_t nextClaim_ = 0;   // the next file a worker takes
    std::size_t consumerAt_ = 0;  // the file the caller is on
    std::vector<Slot> slots_;     // file i lives in slot i % window_

    // The caller's current batch (touched by the caller only).
    std::vector<std::uint64_t> current_;
    std::size_t cursor_ = 0;

    std::vector<std::thread> threads_;
};

}  // namespace RegexEngine

#endif
