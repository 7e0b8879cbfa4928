// The look-ahead of a walk (see Searchpipeline.h).
#include "Searchpipeline.h"

#include <algorithm>
#include <new>
#include <utility>

#include "Platform.h"

namespace RegexEngine {

namespace {
constexpr std::size_t valuesPerBatch = 16384;  // 128 KiB of offsets
}  // namespace

// Collects a worker's matches into batches and hands full batches to the
// caller's side through the pool; waits while the file's queue is full.
class SearchPipeline::WorkerSink final : public MatchSink {
public:
    WorkerSink(SearchPipeline& owner, std::size_t index) : owner_(owner), index_(index) {}

    bool Take(const std::uint64_t* offsets) override
    {
        batch_.insert(batch_.end(), offsets, offsets + owner_.stride_);
        if (owner_.mode_ == Mode::FirstMatch)
            return false;  // one match answers the question
        if (batch_.size() + owner_.stride_ > owner_.batchValues_)
            return Flush();
        return true;
    }

    // Queues the batch (when it holds anything); false once the file is no
    // longer wanted.
    bool Flush() { return owner_.pool_.Put(index_, batch_); }

private:
    SearchPipeline& owner_;
    std::size_t index_;
    std::vector<std::uint64_t> batch_;
};

SearchPipeline::SearchPipeline(const CompiledPattern& pattern, unsigned flags, Mode mode,
                               const std::vector<std::string>& files, unsigned workers, const LargeFileRule& rule)
    : pattern_(pattern),
      rule_(rule),
      flags_(flags),
      mode_(mode),
      files_(files),
      stride_(2 * std::size_t(pattern.marks)),
      batchValues_(std::max(valuesPerBatch, 2 * std::size_t(pattern.marks))),
      // The head file and one file ahead per worker.
      pool_(std::max(1u, workers), std::size_t(std::max(1u, workers)) + 1),
      slots_(pool_.Window())
{
}

void SearchPipeline::Search(std::size_t index)
{
    Slot& slot = SlotOf(index);
    slot.readable = slot.streamed = false;
    slot.loadError = 0;
    slot.end = SearchEnd::Finished;
    slot.error.clear();
    FileBuffer::Outcome outcome = FileBuffer::Outcome::Failed;
    try {
        outcome = slot.file.Open(files_[index], rule_);
        if (outcome == FileBuffer::Outcome::Failed)
            slot.loadError = slot.file.Error();
    } catch (const std::bad_alloc&) {
        slot.loadError = RegexPlatform::OutOfMemoryError();  // reported as a skipped file
    }
    slot.streamed = outcome == FileBuffer::Outcome::Stream;
    if (outcome != FileBuffer::Outcome::Ready)
        return;  // handed out once this returns
    slot.readable = true;
    pool_.Open(index);  // the matches are handed out as they are found
    WorkerSink sink(*this, index);
    std::string error;
    // What throws here (memory exhaustion) the caller rethrows after the
    // file's last match.
    slot.end = SearchBuffer(pattern_, slot.file.Data(), slot.file.Size(), flags_, sink, error);
    sink.Flush();
    slot.error = std::move(error);
}

bool SearchPipeline::Run(std::size_t first, const std::function<bool(std::size_t, const View&)>& deliver)
{
    return pool_.RunStreaming(
        first, files_.size(),
        [this](std::size_t index) {
            Search(index);
            return true;  // only the caller ends the walk
        },
        [this, &deliver](std::size_t index) {
            delivering_ = index;
            drained_ = false;
            current_.clear();
            cursor_ = 0;
            Slot& slot = SlotOf(index);
            const View view{slot.readable, slot.streamed, slot.file.Data(), slot.file.Size(), &slot.file.State()};
            if (!deliver(index, view))
                return false;  // the worker may still be searching: its buffer stays until it is done
            if (drained_)
                slot.file.Unmap();  // searched to the end: a mapped file is not held open until the slot is reused
            return true;
        });
}

const std::uint64_t* SearchPipeline::Next()
{
    if (cursor_ < current_.size()) {
        const std::uint64_t* offsets = current_.data() + cursor_;
        cursor_ += stride_;
        return offsets;
    }
    if (!pool_.Take(delivering_, current_)) {
        drained_ = true;
        return nullptr;
    }
    cursor_ = stride_;
    return current_.data();
}

SearchEnd SearchPipeline::End(std::string& error) const
{
    const Slot& slot = SlotOf(delivering_);
    error = slot.error;
    return slot.end;
}

}  // namespace RegexEngine
