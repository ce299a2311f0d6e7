#pragma once

#include "Platform/HttpClient.h"

#include <fstream>
#include <string>
#include <vector>

// An HttpClient for tests: it keeps every transfer pending until the test completes it, on the test's
// own thread, with a body (written as a scratch file into the folder it was given) or a failure.
class FakeHttpClient final : public HttpClient {
public:
    struct Transfer {
        TransferId id = 0;
        std::string url;
        std::filesystem::path folder;
        Completion completion;
        Progress progress;
    };

    std::vector<Transfer> pending;
    std::vector<TransferId> cancelled;

    TransferId download(const std::string& url, const std::filesystem::path& folder, const HttpTransferLimits&,
                        Progress progress, Completion completion) override
    {
        pending.push_back({++lastId_, url, folder, std::move(completion), std::move(progress)});
        return lastId_;
    }
    void cancel(TransferId id) override { cancelled.push_back(id); }

    // Completes the pending transfer of that URL with a 200 and the body.
    void succeed(const std::string& url, const std::string& body)
    {
        Transfer transfer = take(url);
        const auto scratch = transfer.folder / (".fake-download-" + std::to_string(transfer.id));
        std::ofstream(scratch, std::ios::binary) << body;
        HttpDownloadResult result;
        result.status = 200;
        result.bytes = body.size();
        result.file.emplace(scratch);
        transfer.completion(std::move(result));
    }
    // Reports progress of the pending transfer of that URL, if it asked for progress.
    void progress(const std::string& url, uint64_t received, uint64_t total)
    {
        for (const auto& transfer : pending) {
            if (transfer.url == url && transfer.progress)
                transfer.progress(received, total);
        }
    }
    void fail(const std::string& url, long status, std::string error = "HTTP status")
    {
        Transfer transfer = take(url);
        HttpDownloadResult result;
        result.status = status;
        result.error = Error{HttpClient::kErrorDomain, HttpClient::RefusedStatus, std::move(error)};
        transfer.completion(std::move(result));
    }

private:
    Transfer take(const std::string& url)
    {
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->url == url) {
                Transfer transfer = std::move(*it);
                pending.erase(it);
                return transfer;
            }
        }
        return {0, url, {}, [](HttpDownloadResult) {}, {}};
    }

    TransferId lastId_ = 0;
};
