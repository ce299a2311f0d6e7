// Files both ways over loopback, beside the machine's own tools on the same file:
//   push:  the protected copy into the shared folder (FileServer::uploadFile under a session key)
//          beside `cp`; then the TV peer's fetch and decryption of the stored file beside `curl` of it
//   offer: CurlHttpClient's download from the TV peer's file service, named in the download folder,
//          beside `curl -o` of the same URL
// Each pair takes turns within a round, so both see the same load of the machine; `cp`, whose time
// swings most from run to run, copies the same cached file three times a round. Each timed copy comes
// right after an untimed one of the same file that was removed, and after a sync. Each figure is the
// median of its runs.
//   bench-files [megabytes, default 1024] [rounds, default 3]
#include "PeerCommand.h"

#include "FileShare/DownloadFolder.h"
#include "FileShare/FileServer.h"
#include "Platform/CurlHttpClient.h"
#include "Platform/MainQueue.h"
#include "Platform/RunLoop.h"
#include "Socket/FileShareList.h"
#include "Utils/PUtils.h"
#include "tv-sim/PatternFile.h"
#include "tv-sim/TvFileFetcher.h"
#include "tv-sim/TvFileServer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds the command (by argv) took; negative when it failed.
double timeCommand(const std::vector<std::string>& arguments)
{
    const auto run = PeerCommand::run(arguments);
    return run.ok ? run.seconds : -1;
}

// The runs of cp a round.
constexpr int kCopyPeerRuns = 3;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Pair {
    const char* ours;
    const char* theirs;
    std::vector<double> oursSeconds;
    std::vector<double> theirsSeconds;
};

void print(const Pair& pair, double megabytes)
{
    const double ours = megabytes / median(pair.oursSeconds), theirs = megabytes / median(pair.theirsSeconds);
    std::printf("  %-34s %8.1f MB/s   %-22s %8.1f MB/s   ratio %.2f\n", pair.ours, ours, pair.theirs, theirs, ours / theirs);
}

// One download through the client, named in the folder; seconds, negative on failure.
double download(CurlHttpClient& client, const std::string& url, const DownloadFolder& folder, const std::string& name)
{
    std::mutex mutex;
    std::condition_variable done;
    std::optional<HttpDownloadResult> result;
    const auto start = Clock::now();
    client.download(url, folder.path(), {}, {}, [&](HttpDownloadResult outcome) {
        std::lock_guard lock(mutex);
        result.emplace(std::move(outcome));
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return result.has_value(); });
    if (!result->file || !folder.store(*result->file, name))
        return -1;
    return since(start);
}

// The rounds in `root`; every object that posts to the main queue is gone when it returns.
int bench(const fs::path& root, uint64_t megabytes, int rounds)
{
    const fs::path source = root / "source.bin";
    const uint64_t size = megabytes << 20;
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("files: %llu MB, %d rounds (cp %d times a round), %u cores, load average %.2f %.2f %.2f\n",
                static_cast<unsigned long long>(megabytes), rounds, kCopyPeerRuns, std::thread::hardware_concurrency(),
                load[0], load[1], load[2]);
    if (PatternFile::write(source, size, 1).empty()) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        return 1;
    }

    const auto key = PUtils::genRandomWithByteLen(32);
    FileServer::Options options;
    options.cachesFolder = root / "cache";
    options.server.port = 0;
    options.server.bindToLocalhost = true;
    options.server.bonjourName.reset();
    options.sessionKey = [&key] { return std::make_shared<const std::vector<uint8_t>>(*key); };
    FileServer server(options);
    const std::string base = server.getShareFileBaseURL().value_or("");
    TvFileFetcher fetcher({}, {});

    TvFileServer tvFiles;
    tvFiles.addFile("1", source);
    if (!tvFiles.start() || base.empty()) {
        std::fprintf(stderr, "cannot serve\n");
        return 1;
    }
    CurlHttpClient client;
    fs::create_directories(root / "downloads");
    const DownloadFolder downloads(root / "downloads");

    Pair copy{"copy with protection (uploadFile)", "cp", {}, {}};
    Pair fetch{"tv-sim fetch and decrypt", "curl of the stored file", {}, {}};
    Pair offer{"offer download (CurlHttpClient)", "curl -o", {}, {}};
    for (int round = 0; round < rounds; ++round) {
        const std::string id = std::to_string(1000 + round);
        // Each timed copy follows a copy of the same file just removed, so it writes into pages that
        // are free, and starts with nothing left to write back (the kernel slows down writers while
        // much is): neither side pays for reclaiming the page cache while the other does not.
        if (!server.uploadFile(source, FileServer::kSharedFolderName, "warm"))
            return 1;
        server.removeFileByName("warm");
        ::sync();
        auto start = Clock::now();
        if (!server.uploadFile(source, FileServer::kSharedFolderName, id))
            return 1;
        copy.oursSeconds.push_back(since(start));
        for (int run = 0; run <= kCopyPeerRuns; ++run) {
            ::sync();
            const double cp = timeCommand({"cp", source.string(), (root / "cp.bin").string()});
            fs::remove(root / "cp.bin");
            if (cp < 0) {
                std::fprintf(stderr, "cp failed\n");
                return 1;
            }
            if (run > 0)
                copy.theirsSeconds.push_back(cp);
        }

        fetcher.onFilePush(FileShareList{base, id, "source.bin"}.encode(), *key);
        if (!fetcher.waitForFetched(static_cast<size_t>(round) + 1, std::chrono::minutes(10)) ||
            !fetcher.fetched().back().error.empty())
            return 1;
        fetch.oursSeconds.push_back(fetcher.fetched().back().seconds);
        const double curl = timeCommand({"curl", "-sS", "-o", "/dev/null", base + "/" + id});
        server.removeFileByName(id);
        if (curl < 0) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        fetch.theirsSeconds.push_back(curl);

        const double ours = download(client, tvFiles.baseURL() + "/1", downloads, "offer.bin");
        const double theirs = timeCommand({"curl", "-sS", "-o", (root / "curl.bin").string(), tvFiles.baseURL() + "/1"});
        if (ours < 0 || theirs < 0)
            return 1;
        offer.oursSeconds.push_back(ours);
        offer.theirsSeconds.push_back(theirs);
        fs::remove(root / "downloads" / "offer.bin");
        fs::remove(root / "curl.bin");
    }
    const double total = static_cast<double>(megabytes) * 1.048576;
    std::printf("push (MB = 10^6 bytes, the median of the runs):\n");
    print(copy, total);
    print(fetch, total);
    std::printf("offer:\n");
    print(offer, total);
    std::printf("push end to end (copy then fetch): %.1f MB/s\n",
                total / (median(copy.oursSeconds) + median(fetch.oursSeconds)));
    tvFiles.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string pattern = (fs::temp_directory_path() / "bench-files-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path root = pattern;
    MainQueue::install(std::make_shared<RunLoop>());
    const int status = bench(root, megabytes, rounds);
    MainQueue::install(nullptr);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return status;
}
