#include "RequestTestSupport.h"

#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerFileRequest.h"
#include "WebServer/HttpServerURLEncodedFormRequest.h"

#include "DescriptorFlags.h"
#include "WebServer/HttpServerTemporaryFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace RequestTestSupport;

namespace {

template <class Request = HttpServerRequest>
std::unique_ptr<Request> make(const HttpServerRequest::Headers& headers, const std::string& method = "POST")
{
    return HttpServerRequest::create<Request>(method, "http://127.0.0.1/upload", headers, "/upload", {});
}

std::vector<uint8_t> sampleBody()
{
    std::vector<uint8_t> body;
    for (int i = 0; i < 5000; ++i)
        body.push_back(static_cast<uint8_t>(i * 7 + i / 256));
    return body;
}

} // namespace

TEST(RequestHeadTest, ContentLengthMustBeAPlainNumberAndNotChunked)
{
    for (const char* bad : { "-5", "+5", "12abc", "0x10", "", "1 2", "99999999999999999999", "9223372036854775808" })
        EXPECT_EQ(make({ { "Content-Length", bad } }), nullptr) << bad;
    EXPECT_EQ(make({ { "Content-Length", "10" }, { "Transfer-Encoding", "chunked" } }), nullptr);

    const auto request = make({ { "content-length", " 9223372036854775807 " } });
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->contentLength(), 9223372036854775807ull);
    EXPECT_EQ(request->contentType(), "application/octet-stream");
    EXPECT_TRUE(request->hasBody());
}

TEST(RequestHeadTest, BodyFramingDecidesTheContentType)
{
    const auto typedWithoutLength = make({ { "Content-Type", "text/plain" } });
    ASSERT_NE(typedWithoutLength, nullptr);
    EXPECT_FALSE(typedWithoutLength->hasBody());

    const auto chunked = make({ { "Transfer-Encoding", "Chunked" } });
    ASSERT_NE(chunked, nullptr);
    EXPECT_TRUE(chunked->usesChunkedTransferEncoding());
    EXPECT_EQ(chunked->contentType(), "application/octet-stream");
    EXPECT_EQ(chunked->contentLength(), HttpServerRequest::kNoContentLength);

    const auto typed = make({ { "Content-Type", "Multipart/Form-Data; Boundary=AbC" }, { "Content-Length", "3" } });
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->contentType(), "multipart/form-data; Boundary=AbC");

    const auto none = make({}, "GET");
    ASSERT_NE(none, nullptr);
    EXPECT_FALSE(none->hasBody());
}

TEST(RequestHeadTest, RangeAndConditionalHeaders)
{
    const auto range = [](const char* value) { return make({ { "Range", value } }, "GET")->byteRange(); };
    EXPECT_EQ(range("bytes=0-0").location, 0u);
    EXPECT_EQ(range("bytes=0-0").length, 1u);
    EXPECT_EQ(range("bytes=10-").location, 10u);
    EXPECT_EQ(range("bytes=10-").length, HttpServerByteRange::kNotFound);
    EXPECT_EQ(range("bytes=-500").location, HttpServerByteRange::kNotFound);
    EXPECT_EQ(range("bytes=-500").length, 500u);
    // An end below the start asks for the bytes from the start on.
    EXPECT_EQ(range("bytes=9-5").location, 9u);
    EXPECT_EQ(range("bytes=9-5").length, HttpServerByteRange::kNotFound);
    for (const char* ignored : { "bytes=0-1,5-6", "items=0-1", "bytes=+5-9", "bytes=-0", "bytes=99999999999999999999-" })
        EXPECT_FALSE(make({ { "Range", ignored } }, "GET")->hasByteRange()) << ignored;

    const auto request = make({ { "If-None-Match", "\"abc\"" }, { "Accept-Encoding", "deflate, gzip" },
                                  { "If-Modified-Since", "Thu, 01 Jan 1970 00:00:10 GMT" } },
        "GET");
    EXPECT_EQ(request->ifNoneMatch(), "\"abc\"");
    EXPECT_TRUE(request->acceptsGzipContentEncoding());
    ASSERT_TRUE(request->ifModifiedSince().has_value());
    EXPECT_EQ(request->ifModifiedSince()->time_since_epoch(), std::chrono::seconds(10));
    EXPECT_EQ(request->headerValue("if-none-match"), "\"abc\"");
}

TEST(RequestBodyTest, BaseRequestDropsTheBodyAndOpensOnce)
{
    auto request = make({ { "Content-Length", "3" } });
    EXPECT_TRUE(feedBody(*request, bytes("abc")).ok);
    HttpError error;
    EXPECT_FALSE(request->performOpen(&error));
}

TEST(RequestBodyTest, DataRequestGivesTheSameBytesWhateverThePieces)
{
    const auto body = sampleBody();
    for (const size_t piece : { size_t { 0 }, size_t { 1 }, size_t { 7 } }) {
        auto request = make<HttpServerDataRequest>({ { "Content-Length", std::to_string(body.size()) } });
        ASSERT_TRUE(feedBody(*request, body, piece).ok);
        EXPECT_EQ(request->data(), body) << piece;
        EXPECT_FALSE(request->text().has_value());
    }
}

TEST(RequestBodyTest, DataRequestViews)
{
    auto text = make<HttpServerDataRequest>({ { "Transfer-Encoding", "chunked" }, { "Content-Type", "text/plain; charset=iso-8859-1" } });
    ASSERT_TRUE(feedBody(*text, std::vector<uint8_t> { 'c', 'a', 'f', 0xE9 }).ok);
    EXPECT_EQ(text->text(), "caf\xC3\xA9");

    auto json = make<HttpServerDataRequest>({ { "Content-Length", "9" }, { "Content-Type", "application/json" } });
    ASSERT_TRUE(feedBody(*json, bytes("{\"a\": 1}")).ok);
    ASSERT_TRUE(json->jsonObject().has_value());
    EXPECT_EQ((*json->jsonObject())["a"], 1);

    auto broken = make<HttpServerDataRequest>({ { "Content-Length", "2" }, { "Content-Type", "text/json" } });
    ASSERT_TRUE(feedBody(*broken, bytes("{x")).ok);
    EXPECT_FALSE(broken->jsonObject().has_value());
}

TEST(RequestBodyTest, DataRequestOverItsCapIsRefusedWith413)
{
    auto declared = make<HttpServerDataRequest>({ { "Content-Length", "9223372036854775807" } });
    auto outcome = feedBody(*declared, bytes(""));
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(isPayloadTooLarge(outcome.error));

    auto chunked = make<HttpServerDataRequest>({ { "Transfer-Encoding", "chunked" } });
    chunked->setMaxBodyLength(100);
    EXPECT_TRUE(feedBody(*chunked, std::vector<uint8_t>(100, 'x'), 9).ok);
    chunked = make<HttpServerDataRequest>({ { "Transfer-Encoding", "chunked" } });
    chunked->setMaxBodyLength(100);
    outcome = feedBody(*chunked, std::vector<uint8_t>(101, 'x'), 9);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(isPayloadTooLarge(outcome.error));
    EXPECT_LE(chunked->data().size(), 100u);
}

TEST(RequestBodyTest, FileRequestStreamsToAPrivateTemporaryFile)
{
    const auto body = sampleBody();
    std::string path;
    for (const size_t piece : { size_t { 0 }, size_t { 1 } }) {
        auto request = make<HttpServerFileRequest>({ { "Content-Length", std::to_string(body.size()) } });
        ASSERT_TRUE(feedBody(*request, body, piece).ok);
        path = request->temporaryPath();
        EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::temp_directory_path());
        EXPECT_EQ(readFile(path), body);
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_NE(request->description().find("{" + path + "}"), std::string::npos);
        request.reset();
        EXPECT_FALSE(std::filesystem::exists(path));
    }

    auto first = make<HttpServerFileRequest>({ { "Content-Length", "0" } });
    auto second = make<HttpServerFileRequest>({ { "Content-Length", "0" } });
    ASSERT_TRUE(feedBody(*first, {}).ok);
    ASSERT_TRUE(feedBody(*second, {}).ok);
    EXPECT_NE(first->temporaryPath(), second->temporaryPath());
}

TEST(RequestBodyTest, ATemporaryFileIsNeverInheritedByAChild)
{
    HttpServerTemporaryFile file;
    ASSERT_TRUE(file.create(nullptr));
    EXPECT_EQ(DescriptorFlags::closesOnExec(file.path()), true);
}

TEST(RequestBodyTest, URLEncodedFormParsesTheSameWhateverThePieces)
{
    const auto body = bytes("a=1&b=x+y%21&c");
    for (const size_t piece : { size_t { 0 }, size_t { 1 } }) {
        auto request = make<HttpServerURLEncodedFormRequest>(
            { { "Content-Length", std::to_string(body.size()) }, { "Content-Type", HttpServerURLEncodedFormRequest::mimeType() } });
        ASSERT_TRUE(feedBody(*request, body, piece).ok);
        const std::map<std::string, std::string> expected { { "a", "1" }, { "b", "x y!" } };
        EXPECT_EQ(request->arguments(), expected);
    }
}
