#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// The bytes of a completed read: a view into storage it shares, so it stays valid after the
// callback. A read into the caller's own buffer is a view of that buffer, with no copy.
class NetSocketData {
public:
    NetSocketData() = default;
    NetSocketData(std::shared_ptr<std::vector<uint8_t>> storage, size_t offset, size_t length)
        : storage_(std::move(storage)), offset_(offset), length_(length)
    {
    }

    const uint8_t* data() const { return storage_ ? storage_->data() + offset_ : nullptr; }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    std::span<const uint8_t> span() const { return {data(), length_}; }
    std::vector<uint8_t> toVector() const { return {span().begin(), span().end()}; }
    // The buffer the bytes live in: the caller's own for reads into it.
    const std::shared_ptr<std::vector<uint8_t>>& storage() const { return storage_; }

private:
    std::shared_ptr<std::vector<uint8_t>> storage_;
    size_t offset_ = 0;
    size_t length_ = 0;
};
