#include "Platform/DispatchReactor.h"

#include "Platform/DispatchPool.h"
#include "Platform/ThreadRole.h"
#include "Utils/Log.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <thread>
#include <utility>

namespace {

constexpr size_t kEventBatch = 256;

uint64_t tagOf(int fd, uint32_t generation)
{
    return (uint64_t(generation) << 32) | uint32_t(fd);
}

} // namespace

DispatchReactor& DispatchReactor::shared()
{
    // Never destroyed, like the pool: sources may still be cancelled while static objects go at exit.
    static DispatchReactor* const reactor = new DispatchReactor;
    return *reactor;
}

DispatchReactor::DispatchReactor() : epoll_(::epoll_create1(EPOLL_CLOEXEC))
{
    // Readiness is handed to the pool's queues: the pool is made now, with its descriptors, rather
    // than at the first event, when the process may have run out of them.
    DispatchPool::shared();
    if (epoll_ < 0) {
        PLOG_ERRNO("dispatch reactor: no epoll instance, no descriptor can be watched");
        return;
    }
    std::thread([this] {
        pthread_setname_np(pthread_self(), "dispatch.fd");
        ThreadRole::set(ThreadRole::Role::HandOff);
        run();
    }).detach();
}

void DispatchReactor::run()
{
    epoll_event events[kEventBatch];
    std::vector<std::shared_ptr<Client>> fired;
    for (;;) {
        const int count = ::epoll_wait(epoll_, events, int(kEventBatch), -1);
        if (count < 0) {
            if (errno != EINTR)
                PLOG_ERRNO("dispatch reactor: epoll_wait");
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < count; ++i)
                dispatch(events[i].data.u64, events[i].events, fired);
        }
        for (const auto& client : fired)
            client->becameReady();
        fired.clear();
    }
}

void DispatchReactor::dispatch(uint64_t tag, uint32_t events, std::vector<std::shared_ptr<Client>>& fired)
{
    const int fd = int(uint32_t(tag));
    const auto it = entries_.find(fd);
    // A late event of a registration that is gone: its descriptor may already be a new one.
    if (it == entries_.end() || it->second.generation != uint32_t(tag >> 32))
        return;
    Entry& entry = it->second;
    entry.enabled = 0; // one-shot: the registration is off until update() turns it on again
    const bool failed = events & (EPOLLERR | EPOLLHUP);
    for (Watcher& watcher : entry.watchers) {
        if (watcher.armed && (failed || (events & watcher.events))) {
            watcher.armed = false;
            fired.push_back(watcher.client);
        }
    }
    update(fd, entry);
}

void DispatchReactor::update(int fd, Entry& entry)
{
    uint32_t wanted = 0;
    for (const Watcher& watcher : entry.watchers)
        wanted |= watcher.armed ? watcher.events : 0;
    // A registration left on for readiness nobody waits for fires once and then stays off: cheaper
    // than a call to turn it off each time a watcher is disarmed.
    if (wanted == 0 || wanted == entry.enabled)
        return;
    epoll_event event{};
    event.events = wanted | EPOLLONESHOT;
    event.data.u64 = tagOf(fd, entry.generation);
    // ENOENT: the descriptor was closed under a watcher and its number reused, so register anew.
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) != 0 && !(errno == ENOENT && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0)) {
        PLOG_ERRNO("dispatch reactor: cannot arm fd %d", fd);
        return;
    }
    entry.enabled = wanted;
}

DispatchReactor::Watcher* DispatchReactor::find(int fd, uint64_t key, Entry** entry)
{
    const auto it = entries_.find(fd);
    if (it == entries_.end())
        return nullptr;
    *entry = &it->second;
    const auto watcher = std::find_if(it->second.watchers.begin(), it->second.watchers.end(),
                                      [key](const Watcher& candidate) { return candidate.key == key; });
    return watcher == it->second.watchers.end() ? nullptr : &*watcher;
}

uint64_t DispatchReactor::attach(int fd, uint32_t events, std::shared_ptr<Client> client)
{
    if (fd < 0 || epoll_ < 0) {
        errno = EBADF;
        return 0;
    }
    std::lock_guard lock(mutex_);
    auto [it, added] = entries_.try_emplace(fd);
    if (added) {
        it->second.generation = nextGeneration_++;
        // Registered switched off; arm() turns on what its watchers want.
        epoll_event event{};
        event.events = EPOLLONESHOT;
        event.data.u64 = tagOf(fd, it->second.generation);
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            const int code = errno;
            entries_.erase(it);
            errno = code;
            return 0;
        }
    }
    const uint64_t key = nextKey_++;
    it->second.watchers.push_back({key, events, false, std::move(client)});
    return key;
}

void DispatchReactor::arm(int fd, uint64_t key)
{
    std::lock_guard lock(mutex_);
    Entry* entry = nullptr;
    if (Watcher* watcher = find(fd, key, &entry)) {
        watcher->armed = true;
        update(fd, *entry);
    }
}

bool DispatchReactor::disarm(int fd, uint64_t key)
{
    std::lock_guard lock(mutex_);
    Entry* entry = nullptr;
    Watcher* watcher = find(fd, key, &entry);
    return watcher && std::exchange(watcher->armed, false);
}

void DispatchReactor::detach(int fd, uint64_t key)
{
    std::shared_ptr<Client> released; // let go outside the lock: it may be the client's last owner
    std::lock_guard lock(mutex_);
    Entry* entry = nullptr;
    Watcher* watcher = find(fd, key, &entry);
    if (!watcher)
        return;
    // An armed watcher's client could be told after it was released.
    assert(!watcher->armed && "a watcher is detached only when not armed");
    released = std::move(watcher->client);
    entry->watchers.erase(entry->watchers.begin() + (watcher - entry->watchers.data()));
    if (!entry->watchers.empty())
        return;
    // The descriptor may already be closed (then epoll dropped it itself), so a failure here is moot.
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    entries_.erase(fd);
}
