#include "FileShare/SharedFileCopy.h"

#include "Utils/AESCtrStream.h"
#include "Utils/FileManager.h"
#include "Utils/Log.h"
#include "Utils/PUtils.h"
#include "WebServer/HttpServerDescriptor.h"
#include "WebServer/HttpServerTemporaryFile.h"
#include "WebServer/WebDavServer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::nullopt_t failed(const fs::path& source, const std::string& reason)
{
    PLOG("error copy file: %s: %s", source.c_str(), reason.c_str());
    return std::nullopt;
}

std::string systemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// The source opened for reading when it is a regular file. O_NONBLOCK keeps a FIFO given as the source
// from blocking the open; it changes nothing for a regular file.
std::optional<HttpServerDescriptor> openRegularFile(const fs::path& source)
{
    HttpServerDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input.isOpen())
        return failed(source, systemError("cannot open"));
    struct stat info {};
    if (::fstat(input.get(), &info) != 0)
        return failed(source, systemError("cannot stat"));
    if (!S_ISREG(info.st_mode))
        return failed(source, "not a regular file");
    return input;
}

// Reads the source to its end, a slice at a time, through the cipher when there is one, into scratch.
bool pump(const fs::path& source, int input, std::optional<AESCtrStream>& cipher, HttpServerTemporaryFile& scratch)
{
    const auto fail = [&source](const std::string& reason) {
        failed(source, reason);
        return false;
    };
    std::vector<uint8_t> slice(SharedFileCopy::kSliceLength);
    for (;;) {
        const ssize_t count = ::read(input, slice.data(), slice.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return fail(systemError("cannot read"));
        if (count == 0)
            return !cipher || cipher->finish() || fail("encryption failed");
        const std::span piece(slice.data(), static_cast<size_t>(count));
        if (cipher && !cipher->update(piece, piece))
            return fail("encryption failed");
        HttpError error;
        if (!scratch.write(piece, &error))
            return fail("cannot write the copy: " + error.description);
    }
}

} // namespace

SharedFileCopy::SharedFileCopy(std::unique_ptr<HttpServerTemporaryFile> scratch) : scratch_(std::move(scratch)) {}
SharedFileCopy::SharedFileCopy(SharedFileCopy&&) noexcept = default;
SharedFileCopy& SharedFileCopy::operator=(SharedFileCopy&&) noexcept = default;
SharedFileCopy::~SharedFileCopy() = default;

std::optional<SharedFileCopy> SharedFileCopy::write(const fs::path& source, const fs::path& folder, const SessionKey& key)
{
    auto input = openRegularFile(source);
    if (!input)
        return std::nullopt;

    std::optional<std::vector<uint8_t>> iv;
    std::optional<AESCtrStream> cipher;
    if (key) {
        iv = PUtils::genRandomWithByteLen(AESCtrStream::kIvLength);
        if (!iv)
            return failed(source, "no iv: the random source failed");
        cipher = AESCtrStream::create(*key, *iv);
        if (!cipher)
            return failed(source, "the session key is unusable");
    }

    // The scratch name is hidden from every client of the server until place() renames it.
    auto scratch = std::make_unique<HttpServerTemporaryFile>();
    scratch->setLocation(folder.string(), WebDavServer::kScratchPrefix);
    HttpError error;
    if (!scratch->create(&error) || (iv && !scratch->write(*iv, &error)))
        return failed(source, "cannot start the copy: " + error.description);
    if (!pump(source, input->get(), cipher, *scratch))
        return std::nullopt;
    if (!scratch->close(&error))
        return failed(source, "cannot finish the copy: " + error.description);
    return SharedFileCopy(std::move(scratch));
}

SharedFileCopy::Placement SharedFileCopy::place(const fs::path& destination, bool replacing)
{
    const std::string scratch = scratch_->releasePath();
    std::optional<Error> error;
    if (!replacing)
        error = FileManager::renameWithoutReplacing(scratch, destination);
    else if (::rename(scratch.c_str(), destination.c_str()) != 0)
        error = Error::posix(errno, "cannot replace the copy");
    if (!error)
        return Placement::Placed;
    ::unlink(scratch.c_str());
    if (error->isPosix(EEXIST))
        return Placement::AlreadyThere;
    PLOG("error copy file: cannot name the copy %s: %s", destination.c_str(), error->description.c_str());
    return Placement::Failed;
}
