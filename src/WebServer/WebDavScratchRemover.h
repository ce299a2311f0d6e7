#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// Deletes the scratch folders that moves and copies leave behind (the item a MOVE or COPY replaced may
// be a tree of many thousand files), one after another on a thread of its own, so a request never
// waits for them and the shared pool never runs them. Whatever is left when it stops, or when the
// process ends, is deleted by the next server's start. Every method is safe from any thread.
class WebDavScratchRemover {
public:
    // `folder` is a descriptor of the folder that holds the scratch folders; it must outlive this.
    explicit WebDavScratchRemover(int folder);
    // Finishes the folder being deleted, leaves the rest, and joins the thread.
    ~WebDavScratchRemover();
    WebDavScratchRemover(const WebDavScratchRemover&) = delete;
    WebDavScratchRemover& operator=(const WebDavScratchRemover&) = delete;

    void remove(std::string name);
    // Waits until nothing is queued or being deleted (for tests and tools).
    void waitUntilIdle();

private:
    void run();

    const int folder_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;  // under mutex_
    bool busy_ = false;              // under mutex_
    bool stopping_ = false;          // under mutex_
    std::thread worker_;
};
