#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// Leaves the process no free descriptor, so a listener's next accept fails with EMFILE: the soft limit
// comes down to a little above the descriptors open now and the rest is filled. Descriptors made before
// stay usable (a client socket made then can still connect). Everything is given back on release().
class DescriptorShortage {
public:
    DescriptorShortage()
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        for (int fd = 0; fd < 4096; ++fd) {
            if (fcntl(fd, F_GETFD) != -1)
                highest = fd;
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest) + 32;
        EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        for (;;) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                break;
            filler_.push_back(fd);
        }
    }
    ~DescriptorShortage() { release(); }
    DescriptorShortage(const DescriptorShortage&) = delete;
    DescriptorShortage& operator=(const DescriptorShortage&) = delete;

    void release()
    {
        for (const int fd : filler_)
            close(fd);
        filler_.clear();
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

    // The sanitizers probe memory through a pipe of their own, which a full table refuses, and then
    // report false faults: a sanitizer build runs these tests only in its normal twin.
    static bool unavailable()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        return true;
#else
        return false;
#endif
    }

    // User and system time of the whole process so far.
    static std::chrono::milliseconds processCpuTime()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const auto toMs = [](const timeval& t) { return std::chrono::milliseconds(t.tv_sec * 1000 + t.tv_usec / 1000); };
        return toMs(usage.ru_utime) + toMs(usage.ru_stime);
    }

private:
    rlimit saved_{};
    std::vector<int> filler_;
};
