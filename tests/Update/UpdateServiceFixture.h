#pragma once

// The test update service (update-service.py) on https://127.0.0.1 with its own test CA, one per test
// suite, and an HTTP client that trusts that CA and counts its completions.

#include "ChildProcess.h"
#include "Platform/CurlHttpClient.h"
#include "Utils/TestFolders.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class UpdateService {
public:
    UpdateService() : process_({"python3", PELKOR_SOURCE_DIR "/tests/Update/update-service.py", folder_.path().string()})
    {
        // Making the CA and the certificate takes a moment.
        for (int i = 0; i < 2; ++i) {
            const auto line = process_.line(std::chrono::seconds(30));
            if (!line)
                return;
            if (line->rfind("port ", 0) == 0)
                port_ = std::stoi(line->substr(5));
            else if (line->rfind("ca ", 0) == 0)
                caFile_ = line->substr(3);
        }
    }

    bool ready() const { return port_ != 0 && !caFile_.empty(); }
    int port() const { return port_; }
    const std::string& caFile() const { return caFile_; }
    std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }

private:
    TempDir folder_;
    ChildProcess process_;
    int port_ = 0;
    std::string caFile_;
};

// Counts the completions it passed on, so a test knows when an answer has reached the main queue.
class CountingHttpClient final : public HttpClient {
public:
    explicit CountingHttpClient(const std::string& caFile)
        : inner_(std::make_shared<CurlHttpClient>(CurlHttpClient::Options{.connectTimeout = std::chrono::seconds(5),
                                                                           .caFile = caFile}))
    {
    }
    TransferId download(const std::string& url, const std::filesystem::path& folder, const HttpTransferLimits& limits,
                        Progress progress, Completion completion) override
    {
        ++started;
        return inner_->download(url, folder, limits, std::move(progress), [this, completion](HttpDownloadResult result) {
            completion(std::move(result));
            ++completed;
        });
    }
    void cancel(TransferId id) override { inner_->cancel(id); }

    std::atomic<int> started{0};
    std::atomic<int> completed{0};

private:
    std::shared_ptr<CurlHttpClient> inner_;
};
