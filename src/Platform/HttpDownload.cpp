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

int HttpDownloadedFile::place(const std::filesystem::path& target)
{
    const int error = FileManager::renameWithoutReplacing(scratch_, target);
    if (error == 0)
        scratch_.clear();
    return error;
}
