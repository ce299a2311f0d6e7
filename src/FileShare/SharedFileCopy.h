#pragma once

#include "FileShare/CopyPipeline.h"
#include "Utils/SessionKey.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class HttpServerTemporaryFile;

// One file on its way into the shared folder. write() streams the source, a slice at a time and
// reading, protecting and writing at once (CopyPipeline), into a scratch file in the destination's folder, in the form the folder stores: an EncryptedFrame (fresh IV,
// then the AES-256-CTR ciphertext) under the session key, or the plain bytes without one. place() then
// gives it its name only when nothing holds that name yet. A copy that is not placed leaves nothing
// behind, and a reader of the folder never sees a half-written file under a file id.
class SharedFileCopy {
public:
    // The bytes read, protected and written at a time; 2 x CopyPipeline::kSlices of them are held in
    // memory at once, whatever the size of the file.
    static constexpr size_t kSliceLength = CopyPipeline::kSliceLength;

    enum class Placement { Placed, AlreadyThere, Failed };
    // The source's bytes copied so far, and its size when the copy began; on the copy's writing thread.
    using Progress = std::function<void(uint64_t copied, uint64_t size)>;

    // nullopt (logged) when the source is not a readable regular file, the key is unusable, the random
    // source fails or the folder cannot take the bytes. `key` null: a plain copy.
    static std::optional<SharedFileCopy> write(const std::filesystem::path& source, const std::filesystem::path& folder,
                                               const SessionKey& key, const Progress& progress = {});

    SharedFileCopy(SharedFileCopy&&) noexcept;
    SharedFileCopy& operator=(SharedFileCopy&&) noexcept;
    ~SharedFileCopy();

    // Renames the scratch file to `destination` (in the folder given to write()) unless something is
    // there already, which is left as it is; `replacing` puts it in the other's place at once instead.
    // The scratch file is gone afterwards, whatever the outcome.
    Placement place(const std::filesystem::path& destination, bool replacing = false);

private:
    explicit SharedFileCopy(std::unique_ptr<HttpServerTemporaryFile> scratch);

    std::unique_ptr<HttpServerTemporaryFile> scratch_;
};
