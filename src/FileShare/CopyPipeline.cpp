#include "FileShare/CopyPipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Slice {
    std::vector<uint8_t> bytes;
    size_t length = 0;
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
    Run()
    {
        for (size_t i = 0; i < CopyPipeline::kSlices; ++i)
            empty_.put({std::vector<uint8_t>(CopyPipeline::kSliceLength), 0});
    }

    void read(int input)
    {
        while (std::optional<Slice> slice = empty_.take()) {
            slice->length = 0;
            // Whole slices, so the cipher and the writes see large pieces whatever the reads return.
            while (slice->length < slice->bytes.size()) {
                const ssize_t count = ::read(input, slice->bytes.data() + slice->length, slice->bytes.size() - slice->length);
                if (count < 0 && errno == EINTR)
                    continue;
                if (count < 0)
                    return fail(std::string("cannot read: ") + std::strerror(errno));
                if (count == 0)
                    break;
                slice->length += static_cast<size_t>(count);
            }
            const bool last = slice->length < slice->bytes.size();
            if (slice->length > 0)
                read_.put(std::move(*slice));
            if (last)
                break;
        }
        read_.end();
    }

    void change(const CopyPipeline::Change& change)
    {
        while (std::optional<Slice> slice = read_.take()) {
            if (change && !change(std::span(slice->bytes.data(), slice->length)))
                return fail("encryption failed");
            changed_.put(std::move(*slice));
        }
        changed_.end();
    }

    void write(const CopyPipeline::Write& write)
    {
        while (std::optional<Slice> slice = changed_.take()) {
            std::string reason;
            if (!write(std::span<const uint8_t>(slice->bytes.data(), slice->length), reason))
                return fail("cannot write the copy: " + reason);
            empty_.put(std::move(*slice));
        }
        // A reader waiting for an empty slice after its last one: nothing more is asked of it.
        empty_.cut();
    }

    // Stops every step as soon as it looks again; the first reason given is kept.
    void fail(std::string reason)
    {
        {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::move(reason);
        }
        empty_.cut();
        read_.cut();
        changed_.cut();
    }

    std::optional<std::string> failure()
    {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    // Empty slices go to the reader, read ones to the change, changed ones to the writer.
    Handoff empty_;
    Handoff read_;
    Handoff changed_;
    std::mutex mutex_;
    std::optional<std::string> failure_;
};

} // namespace

std::optional<std::string> CopyPipeline::run(int input, const Change& change, const Write& write)
{
    // The kernel reads ahead further for a file read once from start to end.
    ::posix_fadvise(input, 0, 0, POSIX_FADV_SEQUENTIAL);
    Run run;
    std::thread reader;
    std::thread writer;
    try {
        reader = std::thread([&] { run.read(input); });
        writer = std::thread([&] { run.write(write); });
    } catch (const std::system_error& error) {
        run.fail(std::string("cannot start the copy: ") + error.what());
        if (reader.joinable())
            reader.join();
        return run.failure();
    }
    run.change(change);
    reader.join();
    writer.join();
    return run.failure();
}
