// The look-ahead of a walk: the files are read and searched on the ordered
// pool's workers (Searchpool.h) while the caller's thread hands out each
// file's matches in file order, taking them in batches while the file is
// still being searched. Memory stays bounded whatever the number of files or
// matches: at most `workers + 1` files are in flight, each in a reused buffer
// with at most a few batches of matches queued; a worker whose queue is full
// waits.
#ifndef QUORVEX_ENGINE_SEARCHPIPELINE_H
#define QUORVEX_ENGINE_SEARCHPIPELINE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Filebuffer.h"
#include "Filesearcher.h"
#include "Searchpool.h"

namespace RegexEngine {

class SearchPipeline {
public:
    enum class Mode {
        AllMatches,  // every match of every file
        FirstMatch   // at most one match per file: whether it has any
    };

    // `workers` (at least 1) threads over `files`. `pattern` and `files` must
    // outlive the pipeline. Files larger than `rule` allows to read are
    // mapped, or left to the caller to search in windows (View::streamed).
    SearchPipeline(const CompiledPattern& pattern, unsigned flags, Mode mode,
                   const std::vector<std::string>& files, unsigned workers,
                   const LargeFileRule& rule = LargeFileRule());
    SearchPipeline(const SearchPipeline&) = delete;
    SearchPipeline& operator=(const SearchPipeline&) = delete;

    struct View {
        bool readable;  // false: skipped (not a regular file, or unreadable), or streamed
        bool streamed;  // too large to read or map: the caller searches it in windows, no match is queued
        const char* data;
        std::size_t size;
        const RegexPlatform::FileState* state;  // the file as it was when read
    };
    // Searches the files from `first` on: deliver(index, view) on the
    // caller's thread, one file after the other in list order, as soon as
    // the file is loaded; it takes the file's matches with Next() and, after
    // the last, End(); it answers false to end the walk (the workers finish
    // the file search each is in before they notice). False when no thread
    // could be started: nothing was searched or delivered.
    bool Run(std::size_t first, const std::function<bool(std::size_t, const View&)>& deliver);

    // Within deliver: the next match's offsets, null at the end of the file
    // (then it rethrows what the worker could not handle).
    const std::uint64_t* Next();
    // Within deliver, after Next gave null: how the file's search ended.
    SearchEnd End(std::string& error) const;
    // Within deliver of a file that is not readable: the platform's error
    // code from reading it.
    unsigned LoadError() const { return SlotOf(delivering_).loadError; }

private:
    struct Slot {
        bool readable = false;
        bool streamed = false;
        unsigned loadError = 0;
        SearchEnd end = SearchEnd::Finished;
        std::string error;
        FileBuffer file;
    };
    class WorkerSink;

    void Search(std::size_t index);
    Slot& SlotOf(std::size_t index) { return slots_[index % slots_.size()]; }
    const Slot& SlotOf(std::size_t index) const { return slots_[index % slots_.size()]; }

    const CompiledPattern& pattern_;
    const LargeFileRule rule_;
    const unsigned flags_;
    const Mode mode_;
    const std::vector<std::string>& files_;
    const std::size_t stride_;       // offsets per match
    const std::size_t batchValues_;  // offsets per batch
    SearchPool pool_;
    std::vector<Slot> slots_;  // file i lives in slot i % slots_.size()

    // The caller's side (touched by the caller only): the file being handed
    // out and its current batch.
    std::size_t delivering_ = 0;
    bool drained_ = false;  // Next gave the file's last match: its worker is done
    std::vector<std::uint64_t> current_;
    std::size_t cursor_ = 0;
};

}  // namespace RegexEngine

#endif
