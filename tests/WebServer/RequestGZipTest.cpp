#include "RequestTestSupport.h"

#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerFileRequest.h"
#include "WebServer/HttpServerGZipDecoder.h"

#include "Utils/Shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <zlib.h>

using namespace RequestTestSupport;

namespace {

// Text that compresses well, so that one small input inflates past the decoder's output piece.
std::vector<uint8_t> original()
{
    std::string text;
    for (int i = 0; text.size() < 700000; ++i)
        text += "line " + std::to_string(i % 97) + " of the uploaded document\n";
    return bytes(text);
}

// The body as the gzip command compresses it.
std::vector<uint8_t> gzipCommand(const std::vector<uint8_t>& data)
{
    char path[] = "/tmp/RequestGZipTest-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_NE(fd, -1);
    EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    const auto outcome = Shell::run({ "gzip", "-c", path });
    unlink(path);
    EXPECT_TRUE(outcome && outcome->exitCode == 0);
    return outcome ? bytes(outcome->output) : std::vector<uint8_t>();
}

std::vector<uint8_t> gzipZeros(size_t length)
{
    z_stream stream {};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> input(length, 0);
    std::vector<uint8_t> output(deflateBound(&stream, length));
    stream.next_in = input.data();
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    output.resize(stream.total_out);
    deflateEnd(&stream);
    return output;
}

std::unique_ptr<HttpServerDataRequest> gzipRequest(size_t length)
{
    return HttpServerRequest::create<HttpServerDataRequest>("PUT", "/doc", { { "Content-Length", std::to_string(length) }, { "Content-Encoding", "GZIP" } },
        "/doc", {});
}

// Records what reaches the end of the chain.
class RecordingWriter : public HttpServerBodyWriter {
public:
    bool open(HttpError*) override { return true; }
    bool writeData(std::span<const uint8_t> data, HttpError*) override
    {
        total += data.size();
        largestPiece = std::max(largestPiece, data.size());
        return true;
    }
    bool close(HttpError*) override { return true; }

    size_t total = 0;
    size_t largestPiece = 0;
};

} // namespace

TEST(RequestGZipTest, BodyCompressedByTheGzipCommandInflatesToTheOriginal)
{
    const auto plain = original();
    const auto compressed = gzipCommand(plain);
    ASSERT_FALSE(compressed.empty());
    for (const size_t piece : { size_t { 0 }, size_t { 1 }, size_t { 1000 } }) {
        auto request = gzipRequest(compressed.size());
        const auto outcome = feedBody(*request, compressed, piece);
        ASSERT_TRUE(outcome.ok) << outcome.error.description;
        EXPECT_EQ(request->data(), plain) << piece;
    }

    auto file = HttpServerRequest::create<HttpServerFileRequest>("PUT", "/doc",
        { { "Transfer-Encoding", "chunked" }, { "Content-Encoding", "gzip" } }, "/doc", {});
    ASSERT_TRUE(feedBody(*file, compressed, 4096).ok);
    EXPECT_EQ(readFile(file->temporaryPath()), plain);
}

TEST(RequestGZipTest, TruncatedOrCorruptBodyFails)
{
    const auto compressed = gzipCommand(original());
    // Without the trailer, and cut in the middle of the deflate data.
    for (const size_t cut : { size_t { 4 }, size_t { 8 }, compressed.size() / 2 }) {
        const std::vector<uint8_t> truncated(compressed.begin(), compressed.end() - static_cast<ptrdiff_t>(cut));
        auto request = gzipRequest(truncated.size());
        const auto outcome = feedBody(*request, truncated);
        EXPECT_FALSE(outcome.ok) << cut;
        EXPECT_EQ(outcome.error.domain, HttpError::kZlibDomain);
    }

    auto corrupt = compressed;
    corrupt[corrupt.size() - 6] ^= 0xFF; // CRC
    auto request = gzipRequest(corrupt.size());
    EXPECT_FALSE(feedBody(*request, corrupt).ok);

    auto notGzip = gzipRequest(5);
    const auto outcome = feedBody(*notGzip, bytes("hello"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error.domain, HttpError::kZlibDomain);
}

TEST(RequestGZipTest, DecompressionBombIsRefusedNotBuffered)
{
    const auto bomb = gzipZeros(20u << 20);
    ASSERT_LT(bomb.size(), 100000u);

    // Straight into memory: the data request's cap stops it.
    auto request = gzipRequest(bomb.size());
    auto outcome = feedBody(*request, bomb);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(isPayloadTooLarge(outcome.error));
    EXPECT_LE(request->data().size(), HttpServerDataRequest::kDefaultMaxBodyLength);

    // The decoder's own cap, and its output leaves in bounded pieces even from one input piece.
    RecordingWriter sink;
    HttpServerGZipDecoder decoder(&sink, 1u << 20);
    HttpError error;
    ASSERT_TRUE(decoder.open(&error));
    EXPECT_FALSE(decoder.writeData(bomb, &error));
    EXPECT_TRUE(isPayloadTooLarge(error));
    EXPECT_LE(sink.total, 1u << 20);
    EXPECT_LE(sink.largestPiece, HttpServerGZipDecoder::kOutputChunkLength);
}
