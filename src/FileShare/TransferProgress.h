#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Files on their way, as the user sees them: each file's bytes moved of its size, and the sums. A push
// or an offer keeps one on the main thread and hands it to its view whole.
struct TransferProgress {
    enum class State { Waiting, Moving, Done, Failed };
    struct File {
        std::string id;
        std::string name;
        uint64_t done = 0;
        // Nullopt while unknown.
        std::optional<uint64_t> size;
        State state = State::Waiting;
    };

    std::vector<File> files;

    // The files still waiting or moving.
    size_t unfinished() const;
    size_t failed() const;
    // Bytes moved, and bytes to move: a file whose size is unknown counts what it moved so far, a
    // finished one its size (a failed file's bytes are not moved later).
    uint64_t doneBytes() const;
    uint64_t totalBytes() const;
    // Thousandths of the whole: by bytes while every unfinished file's size is known, else by files
    // finished.
    int totalPermille() const;
    // The first file of that id, or null.
    File* find(const std::string& id);
    const File* find(const std::string& id) const;

    // Thousandths of `size` that `done` is: 0 to 1000 (1000 for an empty size).
    static int permille(uint64_t done, uint64_t size);
};
