#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

// Descriptor readiness for every DispatchSource: one epoll registration per descriptor, shared by
// all the watchers of that descriptor (a read and a write source on one socket cost no duplicate),
// level-triggered and one-shot, so an armed watcher hears of readiness once per arm() and a watcher
// that is not armed costs nothing. Readiness is reported on the reactor's own thread, which must
// only hand off. Every method is safe from any thread.
class DispatchReactor {
public:
    // Told of readiness on the reactor's thread; held strongly while attached.
    class Client {
    public:
        virtual void becameReady() = 0;

    protected:
        ~Client() = default;
    };

    static DispatchReactor& shared();

    // Adds a watcher of `events` (EPOLLIN or EPOLLOUT) on fd, not armed. Returns its key, or 0 with
    // errno set when the descriptor cannot be watched.
    uint64_t attach(int fd, uint32_t events, std::shared_ptr<Client> client);
    // The client's becameReady() runs once, on the reactor's thread, when fd is ready for the
    // watcher's events or has an error or a hang-up; at once if it already is.
    void arm(int fd, uint64_t key);
    // Disarms; true if the watcher was armed, so its client will not hear of that arm. False means
    // it has been told or is about to be.
    bool disarm(int fd, uint64_t key);
    // Removes the watcher and releases its client; the last watcher of fd removes the registration,
    // so the caller may close fd afterwards. The watcher must not be armed.
    void detach(int fd, uint64_t key);

private:
    struct Watcher {
        uint64_t key;
        uint32_t events;
        bool armed;
        std::shared_ptr<Client> client;
    };
    struct Entry {
        uint32_t generation;
        // What the registration listens for now: 0 once it fired, until armed again.
        uint32_t enabled = 0;
        std::vector<Watcher> watchers;
    };

    DispatchReactor();
    void run();
    // Below, mutex_ is held.
    void dispatch(uint64_t tag, uint32_t events, std::vector<std::shared_ptr<Client>>& fired);
    void update(int fd, Entry& entry);
    Watcher* find(int fd, uint64_t key, Entry** entry);

    const int epoll_;
    std::mutex mutex_;
    std::unordered_map<int, Entry> entries_;
    uint64_t nextKey_ = 1;
    // Tells a late event for a closed descriptor from one for a new descriptor with the same number.
    uint32_t nextGeneration_ = 1;
};
