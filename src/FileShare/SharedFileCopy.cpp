#include "FileShare/SharedFileCopy.h"

#include "FileShare/CopyPipeline.h"

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

// The source opened for reading when it is a regular file, and its size. O_NONBLOCK keeps a FIFO given
// as the source from blocking the open; it changes nothing for a regular file.
std::optional<HttpServerDescriptor> openRegularFile(const fs::path& source, uint64_t& size)
{
    HttpServerDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input.isOpen())
        return failed(source, systemError("cannot open"));
    struct stat info {};
    if (::fstat(input.get(), &info) != 0)
        return failed(source, systemError("cannot stat"));
    if (!S_ISREG(info.st_mode))
        return failed(source, "not a regular file");
    size = static_cast<uint64_t>(info.st_size);
    return input;
}

// Writes the IV, when there is one, then the source to its end through the cipher, into scratch:
// reading, protecting and writing go on at once.
bool pump(const fs::path& source, int input, const std::optional<std::vector<uint8_t>>& iv,
          std::optional<AESCtrStream>& cipher, HttpServerTemporaryFile& scratch, const CopyPipeline::Progress& progress)
{
    CopyPipeline::Change protect;
    if (cipher)
        protect = [&cipher](std::span<const uint8_t> in, std::span<uint8_t> out) { return cipher->update(in, out); };
    const auto write = [&scratch](std::span<const uint8_t> piece, std::string& reason) {
        HttpError error;
        if (scratch.write(piece, &error))
            return true;
        reason = error.description;
        return false;
    };
    const std::span<const uint8_t> prefix = iv ? std::span<const uint8_t>(*iv) : std::span<const uint8_t>();
    if (const std::optional<std::string> failure = CopyPipeline::run(input, prefix, protect, write, progress)) {
        failed(source, *failure);
        return false;
    }
    if (cipher && !cipher->finish()) {
        failed(source, "encryption failed");
        return false;
    }
    return true;
}

} // namespace

SharedFileCopy::SharedFileCopy(std::unique_ptr<HttpServerTemporaryFile> scratch) : scratch_(std::move(scratch)) {}
SharedFileCopy::SharedFileCopy(SharedFileCopy&&) noexcept = default;
SharedFileCopy& SharedFileCopy::operator=(SharedFileCopy&&) noexcept = default;
SharedFileCopy::~SharedFileCopy() = default;

std::optional<SharedFileCopy> SharedFileCopy::write(const fs::path& source, const fs::path& folder, const SessionKey& key,
                                                    const Progress& progress)
{
    uint64_t size = 0;
    auto input = openRegularFile(source, size);
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
    if (!scratch->create(&error))
        return failed(source, "cannot start the copy: " + error.description);
    CopyPipeline::Progress copied;
    if (progress) {
        progress(0, size);
        copied = [&progress, size](uint64_t written) { progress(written, size); };
    }
    if (!pump(source, input->get(), iv, cipher, *scratch, copied))
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
