#include "Platform/HttpDownload.h"

#include "Utils/FileManager.h"

#include <unistd.h>

HttpDownloadedFile::~HttpDownloadedFile()
{
    if (!scratch_.empty())
        ::unlink(scratch_.c_str());
}

HttpDownloadedFile::HttpDownloadedFile(HttpDownloadedFile&& other) noexcept : scratch_(std::move(other.scratch_))
{
    other.scratch_.clear();
}

HttpDownloadedFile& HttpDownloadedFile::operator=(HttpDownloadedFile&& other) noexcept
{
    if (this != &other) {
        if (!scratch_.empty())
            ::unlink(scratch_.c_str());
        scratch_ = std::move(other.scratch_);
        other.scratch_.clear();
    }
    return *this;
}

std::optional<Error> HttpDownloadedFile::place(const std::filesystem::path& target)
{
    auto error = FileManager::renameWithoutReplacing(scratch_, target);
    if (!error)
        scratch_.clear();
    return error;
}
