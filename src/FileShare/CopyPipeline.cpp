#include "FileShare/CopyPipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

constexpr size_t kPage = 4096;
static_assert(CopyPipeline::kSliceLength % kPage == 0 && CopyPipeline::kMaxPrefix < CopyPipeline::kSliceLength);

struct FreeSlice {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
};

// kSliceLength bytes starting on a page, and how many of them are in use.
struct Slice {
    std::unique_ptr<uint8_t, FreeSlice> bytes;
    size_t length = 0;

    std::span<uint8_t> used() const { return {bytes.get(), length}; }
};

// Slices handed from one step to the next. Ended, it gives what it still holds, then nothing; cut,
// nothing at once, so every step stops as soon as one has failed.
class Handoff {
public:
    void put(Slice slice)
    {
        {
            std::lock_guard lock(mutex_);
            slices_.push_back(std::move(slice));
        }
        ready_.notify_one();
    }
    std::optional<Slice> take()
    {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return cut_ || ended_ || !slices_.empty(); });
        if (cut_ || slices_.empty())
            return std::nullopt;
        Slice slice = std::move(slices_.front());
        slices_.pop_front();
        return slice;
    }
    void end() { close(ended_); }
    void cut() { close(cut_); }

private:
    void close(bool& flag)
    {
        {
            std::lock_guard lock(mutex_);
            flag = true;
        }
        ready_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Slice> slices_;
    bool ended_ = false;
    bool cut_ = false;
};

class Run {
public:
    // False when the memory for the slices cannot be had.
    bool allocate()
    {
        for (Handoff* ring : {&emptyIn_, &emptyOut_}) {
            for (size_t i = 0; i < CopyPipeline::kSlices; ++i) {
                Slice slice{std::unique_ptr<uint8_t, FreeSlice>(
                                static_cast<uint8_t*>(std::aligned_alloc(kPage, CopyPipeline::kSliceLength))),
                            0};
                if (!slice.bytes)
                    return false;
                ring->put(std::move(slice));
            }
        }
        return true;
    }

    void read(int input)
    {
        while (std::optional<Slice> slice = emptyIn_.take()) {
            slice->length = 0;
            // Whole slices, so the cipher and the writes see large pieces whatever the reads return.
            while (slice->length < CopyPipeline::kSliceLength) {
                const ssize_t count = ::read(input, slice->bytes.get() + slice->length,
                                             CopyPipeline::kSliceLength - slice->length);
                if (count < 0 && errno == EINTR)
                    continue;
                if (count < 0)
                    return fail(std::string("cannot read: ") + std::strerror(errno));
                if (count == 0)
                    break;
                slice->length += static_cast<size_t>(count);
            }
            const bool last = slice->length < CopyPipeline::kSliceLength;
            if (slice->length > 0)
                read_.put(std::move(*slice));
            if (last)
                break;
        }
        read_.end();
    }

    // Fills output slices with the prefix, then with the change of every read slice.
    void change(std::span<const uint8_t> prefix, const CopyPipeline::Change& change)
    {
        std::optional<Slice> out = emptyOut_.take();
        if (!out)
            return;
        out->length = 0;
        if (!fill(out, prefix, {}))
            return;
        while (std::optional<Slice> in = read_.take()) {
            if (!fill(out, in->used(), change))
                return;
            emptyIn_.put(std::move(*in));
        }
        if (out->length > 0)
            changed_.put(std::move(*out));
        changed_.end();
        // A reader waiting for an empty slice after its last one: nothing more is asked of it.
        emptyIn_.cut();
    }

    void write(const CopyPipeline::Write& write, size_t prefix, const CopyPipeline::Progress& progress)
    {
        uint64_t written = 0;
        while (std::optional<Slice> slice = changed_.take()) {
            std::string reason;
            if (!write(slice->used(), reason))
                return fail("cannot write the copy: " + reason);
            written += slice->length;
            emptyOut_.put(std::move(*slice));
            if (progress && written > prefix)
                progress(written - prefix);
        }
        emptyOut_.cut();
    }

    // Stops every step as soon as it looks again; the first reason given is kept.
    void fail(std::string reason)
    {
        {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::move(reason);
        }
        for (Handoff* handoff : {&emptyIn_, &read_, &emptyOut_, &changed_})
            handoff->cut();
    }

    std::optional<std::string> failure()
    {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    // Appends `bytes`, changed when there is a change, to the output; each slice that fills goes to
    // the writer and the next empty one takes its place. False once the copy has failed.
    bool fill(std::optional<Slice>& out, std::span<const uint8_t> bytes, const CopyPipeline::Change& change)
    {
        while (!bytes.empty()) {
            const size_t room = CopyPipeline::kSliceLength - out->length;
            const size_t taken = std::min(room, bytes.size());
            const std::span<uint8_t> into(out->bytes.get() + out->length, taken);
            if (change) {
                if (!change(bytes.first(taken), into)) {
                    fail("encryption failed");
                    return false;
                }
            } else {
                std::memcpy(into.data(), bytes.data(), taken);
            }
            out->length += taken;
            bytes = bytes.subspan(taken);
            if (out->length == CopyPipeline::kSliceLength) {
                changed_.put(std::move(*out));
                out = emptyOut_.take();
                if (!out)
                    return false;
                out->length = 0;
            }
        }
        return true;
    }

    // Read slices go round the reader and the change, output slices round the change and the writer.
    Handoff emptyIn_;
    Handoff read_;
    Handoff emptyOut_;
    Handoff changed_;
    std::mutex mutex_;
    std::optional<std::string> failure_;
};

} // namespace

std::optional<std::string> CopyPipeline::run(int input, std::span<const uint8_t> prefix, const Change& change,
                                             const Write& write, const Progress& progress)
{
    if (prefix.size() > kMaxPrefix)
        return "the prefix is too long";
    // The kernel reads ahead further for a file read once from start to end.
    ::posix_fadvise(input, 0, 0, POSIX_FADV_SEQUENTIAL);
    Run run;
    if (!run.allocate())
        return "cannot start the copy: no memory for its slices";
    std::thread reader;
    std::thread writer;
    try {
        reader = std::thread([&] { run.read(input); });
        writer = std::thread([&] { run.write(write, prefix.size(), progress); });
    } catch (const std::system_error& error) {
        run.fail(std::string("cannot start the copy: ") + error.what());
        if (reader.joinable())
            reader.join();
        return run.failure();
    }
    run.change(prefix, change);
    reader.join();
    writer.join();
    return run.failure();
}
