// The look-ahead of a walk (see Searchpipeline.h).
#include "Searchpipeline.h"

#include <algorithm>
#include <new>
#include <utility>

#include "Platform.h"

namespace RegexEngine {

namespace {
constexpr std::size_t valuesPerBatch = 16384;  // 128 KiB of offsets
constexpr std::size_t batchesQueued = 4;       // per file in flight
}  // namespace

// Collects a worker's matches into batches and hands full batches to the
// caller's side; waits while the file's queue is full.
class SearchPipeline::WorkerSink final : public MatchSink {
public:
    WorkerSink(SearchPipeline& owner, Slot& slot) : owner_(owner), slot_(slot) {}

    bool Take(const std::uint64_t* offsets) override
    {
        batch_.insert(batch_.end(), offsets, offsets + owner_.stride_);
        if (owner_.mode_ == Mode::FirstMatch)
            return false;  // one match answers the question
        if (batch_.size() + owner_.stride_ > owner_.batchValues_)
            return Flush();
        return true;
    }

    // Queues the batch (when it holds anything); false once the walk stopped.
    bool Flush()
    {
        std::unique_lock<std::mutex> lock(owner_.mutex_);
        if (!batch_.empty()) {
            slot_.queue.push_back(std::move(batch_));
            batch_.clear();
            if (!slot_.spare.empty()) {
                batch_ = std::move(slot_.spare.back());
                slot_.spare.pop_back();
            }
            owner_.NotifyConsumer();
        }
        while (!owner_.stop_ && slot_.queue.size() >= batchesQueued) {
            ++owner_.workersWaiting_;
            owner_.workerCv_.wait(lock);
            --owner_.workersWaiting_;
        }
        return !owner_.stop_;
    }

private:
    SearchPipeline& owner_;
    Slot& slot_;
    std::vector<std::uint64_t> batch_;
};

SearchPipeline::SearchPipeline(const CompiledPattern& pattern, unsigned flags, Mode mode,
                               const std::vector<std::string>& files, unsigned workers, std::size_t first,
                               const LargeFileRule& rule)
    : pattern_(pattern),
      rule_(rule),
      flags_(flags),
      mode_(mode),
      files_(files),
      stride_(2 * std::size_t(pattern.marks)),
      batchValues_(std::max(valuesPerBatch, 2 * std::size_t(pattern.marks))),
      window_(std::size_t(std::max(1u, workers)) + 1),
      nextClaim_(first),
      consumerAt_(first),
      slots_(window_)
{
    threads_.reserve(std::max(1u, workers));
    try {
        for (unsigned i = 0; i < std::max(1u, workers); ++i)
            threads_.emplace_back(&SearchPipeline::Work, this);
    } catch (...) {
        Stop();
        for (auto& thread : threads_)
            thread.join();
        throw;
    }
}

SearchPipeline::~SearchPipeline()
{
    Stop();
    for (auto& thread : threads_)
        thread.join();
}

void SearchPipeline::NotifyConsumer()
{
    if (consumerWaiting_)
        consumerCv_.notify_one();
}

void SearchPipeline::NotifyWorkers()
{
    if (workersWaiting_ > 0)
        workerCv_.notify_all();
}

void SearchPipeline::Stop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    workerCv_.notify_all();
}

void SearchPipeline::Work()
{
    for (;;) {
        Slot* slot;
        std::size_t index;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // File i may start once the caller has finished file i - window_,
            // the previous user of its slot.
            while (!stop_ && nextClaim_ < files_.size() && nextClaim_ >= consumerAt_ + window_) {
                ++workersWaiting_;
                workerCv_.wait(lock);
                --workersWaiting_;
            }
            if (stop_ || nextClaim_ >= files_.size())
                return;
            index = nextClaim_++;
            slot = &slots_[index % window_];
            slot->index = index;
            slot->loaded = slot->readable = slot->streamed = slot->done = false;
            slot->end = SearchEnd::Finished;
            slot->error.clear();
            slot->thrown = nullptr;
            for (auto& batch : slot->queue)
                slot->spare.push_back(std::move(batch));
            slot->queue.clear();
        }
        Search(*slot);
    }
}

void SearchPipeline::Search(Slot& slot)
{
    FileBuffer::Outcome outcome = FileBuffer::Outcome::Failed;
    std::exception_ptr thrown;
    unsigned loadError = 0;
    try {
        outcome = slot.file.Open(files_[slot.index], rule_);
        if (outcome == FileBuffer::Outcome::Failed)
            loadError = slot.file.Error();
    } catch (const std::bad_alloc&) {
        loadError = RegexPlatform::OutOfMemoryError();  // reported as a skipped file
    } catch (...) {
        thrown = std::current_exception();
    }
    const bool readable = outcome == FileBuffer::Outcome::Ready;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.loaded = true;
        slot.readable = readable;
        slot.streamed = outcome == FileBuffer::Outcome::Stream;
        slot.loadError = loadError;
        if (!readable || thrown) {
            slot.done = true;
            slot.thrown = thrown;
        }
        NotifyConsumer();
        if (slot.done)
            return;
    }

    SearchEnd end = SearchEnd::Finished;
    std::string error;
    WorkerSink sink(*this, slot);
    try {
        end = SearchBuffer(pattern_, slot.file.Data(), slot.file.Size(), flags_, sink, error);
        sink.Flush();
    } catch (...) {
        thrown = std::current_exception();  // memory exhaustion: the caller rethrows it
    }
    std::lock_guard<std::mutex> lock(mutex_);
    slot.done = true;
    slot.end = end;
    slot.error = std::move(error);
    slot.thrown = thrown;
    NotifyConsumer();
}

SearchPipeline::View SearchPipeline::Begin(std::size_t index)
{
    std::unique_lock<std::mutex> lock(mutex_);
    consumerAt_ = index;
    Slot& slot = slots_[index % window_];
    while (!(slot.index == index && slot.loaded)) {
        consumerWaiting_ = true;
        consumerCv_.wait(lock);
        consumerWaiting_ = false;
    }
    cursor_ = 0;
    current_.clear();
    return View{slot.readable, slot.streamed, slot.file.Data(), slot.file.Size(), &slot.file.State()};
}

const std::uint64_t* SearchPipeline::Next()
{
    if (cursor_ < current_.size()) {
        const std::uint64_t* offsets = current_.data() + cursor_;
        cursor_ += stride_;
        return offsets;
    }
    Slot& slot = slots_[consumerAt_ % window_];
    std::unique_lock<std::mutex> lock(mutex_);
    if (current_.capacity() > 0) {
        current_.clear();
        slot.spare.push_back(std::move(current_));
        current_ = std::vector<std::uint64_t>();
    }
    while (slot.queue.empty() && !slot.done) {
        consumerWaiting_ = true;
        consumerCv_.wait(lock);
        consumerWaiting_ = false;
    }
    if (slot.queue.empty())
        return nullptr;
    current_ = std::move(slot.queue.front());
    slot.queue.pop_front();
    NotifyWorkers();  // the file's worker may wait for room in the queue
    cursor_ = stride_;
    return current_.data();
}

SearchEnd SearchPipeline::End(std::string& error)
{
    Slot& slot = slots_[consumerAt_ % window_];
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot.thrown)
        std::rethrow_exception(slot.thrown);
    error = slot.error;
    return slot.end;
}

void SearchPipeline::Finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[consumerAt_ % window_];
    slot.index = ~std::size_t(0);
    slot.file.Unmap();  // a mapped file is not held open until the slot is reused
    ++consumerAt_;
    NotifyWorkers();
}

}  // namespace RegexEngine
