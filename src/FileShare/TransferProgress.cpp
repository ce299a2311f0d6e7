#include "FileShare/TransferProgress.h"

#include <algorithm>
#include <utility>

namespace {

bool finished(TransferProgress::State state)
{
    return state == TransferProgress::State::Done || state == TransferProgress::State::Failed;
}

uint64_t sizeOf(const TransferProgress::File& file)
{
    return std::max(file.size.value_or(file.done), file.done);
}

} // namespace

size_t TransferProgress::unfinished() const
{
    return static_cast<size_t>(std::count_if(files.begin(), files.end(), [](const File& file) { return !finished(file.state); }));
}

size_t TransferProgress::failed() const
{
    return static_cast<size_t>(std::count_if(files.begin(), files.end(), [](const File& file) { return file.state == State::Failed; }));
}

uint64_t TransferProgress::doneBytes() const
{
    uint64_t sum = 0;
    for (const File& file : files)
        sum += finished(file.state) ? sizeOf(file) : file.done;
    return sum;
}

uint64_t TransferProgress::totalBytes() const
{
    uint64_t sum = 0;
    for (const File& file : files)
        sum += sizeOf(file);
    return sum;
}

TransferProgress::File* TransferProgress::find(const std::string& id)
{
    return const_cast<File*>(std::as_const(*this).find(id));
}

const TransferProgress::File* TransferProgress::find(const std::string& id) const
{
    const auto found = std::find_if(files.begin(), files.end(), [&](const File& file) { return file.id == id; });
    return found == files.end() ? nullptr : &*found;
}

int TransferProgress::totalPermille() const
{
    const bool sized = std::all_of(files.begin(), files.end(), [](const File& file) { return file.size || finished(file.state); });
    if (sized && totalBytes() > 0)
        return permille(doneBytes(), totalBytes());
    return files.empty() ? 0 : permille(files.size() - unfinished(), files.size());
}

int TransferProgress::permille(uint64_t done, uint64_t size)
{
    if (size == 0 || done >= size)
        return 1000;
    // In long double: a size near 2^64 would overflow done * 1000.
    return static_cast<int>(static_cast<long double>(done) * 1000 / static_cast<long double>(size));
}
