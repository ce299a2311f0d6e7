#include "tv-sim/TvFileFetcher.h"

#include "tv-sim/PayloadDigest.h"
#include "Utils/AESCtrStream.h"
#include "Utils/ByteReader.h"
#include "Utils/Log.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <memory>

namespace {

// The body as it arrives: the IV first (with a key), then the ciphertext opened and digested slice by slice.
struct Opener {
    std::optional<std::vector<uint8_t>> key;
    std::vector<uint8_t> iv;
    std::optional<AESCtrStream> cipher;
    PayloadDigest digest;
    std::vector<uint8_t> plain;
    uint64_t bytes = 0;
    bool failed = false;

    void take(std::span<const uint8_t> data)
    {
        if (key && !cipher) {
            const size_t wanted = std::min(AESCtrStream::kIvLength - iv.size(), data.size());
            iv.insert(iv.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(wanted));
            data = data.subspan(wanted);
            if (iv.size() < AESCtrStream::kIvLength)
                return;
            cipher = AESCtrStream::create(*key, iv);
            failed = failed || !cipher;
        }
        if (failed || data.empty())
            return;
        if (cipher) {
            plain.resize(data.size());
            failed = !cipher->update(data, plain);
            data = plain;
        }
        digest.update(data);
        bytes += data.size();
    }

    static size_t write(char* data, size_t size, size_t count, void* context)
    {
        static_cast<Opener*>(context)->take({reinterpret_cast<const uint8_t*>(data), size * count});
        return size * count;
    }
};

} // namespace

TvFileFetcher::TvFileFetcher(Acknowledge acknowledge, Observer observer)
    : acknowledge_(std::move(acknowledge)), observer_(std::move(observer)), worker_([this] { run(); })
{
}

TvFileFetcher::~TvFileFetcher()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void TvFileFetcher::onFilePush(std::span<const uint8_t> payload, std::optional<std::vector<uint8_t>> key)
{
    const auto json = nlohmann::json::parse(ByteReader(payload).text(), nullptr, false);
    if (!json.is_array()) {
        PLOG("tv-sim: a file push that is no FileShareList dropped");
        return;
    }
    std::lock_guard lock(mutex_);
    for (const auto& entry : json) {
        const auto text = [&](const char* name) {
            const auto member = entry.is_object() ? entry.find(name) : entry.end();
            return member != entry.end() && member->is_string() ? member->get<std::string>() : std::string();
        };
        jobs_.push_back({text("fileId"), text("fileName"), text("url") + "/" + text("fileId"), key});
    }
    changed_.notify_all();
}

std::vector<TvFileFetcher::Fetched> TvFileFetcher::fetched() const
{
    std::lock_guard lock(mutex_);
    return fetched_;
}

bool TvFileFetcher::waitForFetched(size_t count, Timeout timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return fetched_.size() >= count; });
}

void TvFileFetcher::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        const Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        Fetched result = fetch(job);
        if (observer_)
            observer_(result);
        if (result.error.empty() && acknowledge_)
            acknowledge_();
        lock.lock();
        fetched_.push_back(std::move(result));
        changed_.notify_all();
    }
}

TvFileFetcher::Fetched TvFileFetcher::fetch(const Job& job) const
{
    Fetched result;
    result.fileId = job.fileId;
    result.fileName = job.fileName;
    result.url = job.url;
    Opener opener;
    opener.key = job.key;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy) {
        result.error = "no curl handle";
        return result;
    }
    curl_easy_setopt(easy.get(), CURLOPT_URL, job.url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_BUFFERSIZE, 512L * 1024);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &Opener::write);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &opener);
    const auto started = std::chrono::steady_clock::now();
    const CURLcode code = curl_easy_perform(easy.get());
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &result.status);
    result.bytes = opener.bytes;
    if (code != CURLE_OK)
        result.error = curl_easy_strerror(code);
    else if (result.status != 200)
        result.error = "HTTP status " + std::to_string(result.status);
    else if (opener.failed || (opener.key && !opener.cipher))
        result.error = "cannot open the file with the session key";
    else
        result.sha256 = opener.digest.finishHex();
    return result;
}
