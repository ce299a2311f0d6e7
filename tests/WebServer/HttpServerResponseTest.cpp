#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFileResponse.h"
#include "WebServer/HttpServerStreamedResponse.h"

#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace {

struct Body {
    bool ok = false;
    std::string bytes;
    HttpError error;
};

// Reads a response the way the connection does: prepare, open, read pieces to the empty one, close.
Body drain(HttpServerResponse& response)
{
    Body body;
    response.prepareForReading();
    if (!response.performOpen(&body.error)) {
        return body;
    }
    for (bool more = true; more;) {
        bool answered = false;
        response.performReadData([&](HttpServerBodyReader::Piece piece, const HttpError& error) {
            answered = true;
            if (!piece) {
                body.error = error;
                more = false;
                return;
            }
            if (piece->empty()) {
                body.ok = true;
                more = false;
            }
            body.bytes.append(piece->begin(), piece->end());
        });
        if (!answered) {
            ADD_FAILURE() << "a synchronous read left its completion uncalled";
            break;
        }
    }
    response.performClose();
    return body;
}

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Text that compresses, but not to nothing, and spans many pieces.
std::string sampleText(size_t size)
{
    std::string text;
    uint32_t state = 12345;
    while (text.size() < size) {
        state = state * 1103515245 + 12345;
        text += "line " + std::to_string(state % 1000) + " of the sample\n";
    }
    text.resize(size);
    return text;
}

std::string gunzipWithTheGzipCommand(const TempDir& dir, const std::string& compressed)
{
    writeFile(dir / "body.gz", compressed);
    const auto outcome = Shell::run({"gzip", "-dc", (dir / "body.gz").string()});
    EXPECT_TRUE(outcome && outcome->exitCode == 0);
    return outcome ? outcome->output : std::string();
}

} // namespace

TEST(HttpServerResponse, BaseResponsesAndRedirects)
{
    const auto plain = HttpServerResponse::response();
    EXPECT_EQ(plain->statusCode(), 200);
    EXPECT_FALSE(plain->hasBody());
    EXPECT_FALSE(plain->usesChunkedTransferEncoding());
    const Body body = drain(*plain);
    EXPECT_TRUE(body.ok);
    EXPECT_EQ(body.bytes, "");

    EXPECT_EQ(HttpServerResponse::responseWithRedirect("http://h/x", false)->statusCode(), 307);
    const auto moved = HttpServerResponse::responseWithRedirect("http://h/x", true);
    EXPECT_EQ(moved->statusCode(), 301);
    EXPECT_EQ(moved->additionalHeaders().at("Location"), "http://h/x");
    EXPECT_EQ(HttpServerResponse::responseWithRedirect("http://h/x\r\nSet-Cookie: a=b", false), nullptr);

    // A body is opened once only.
    HttpError error;
    EXPECT_FALSE(plain->performOpen(&error));
}

TEST(HttpServerResponse, HeaderValuesWithLineBreaksAreRefused)
{
    const auto response = HttpServerResponse::response();
    EXPECT_TRUE(response->setValueForAdditionalHeader("X-Name", "value"));
    EXPECT_FALSE(response->setValueForAdditionalHeader("X-Name", "v\r\nSet-Cookie: a=b"));
    EXPECT_FALSE(response->setValueForAdditionalHeader("X-Other", "v\nw"));
    EXPECT_FALSE(response->setValueForAdditionalHeader("X-Bad\r\nName", "v"));
    EXPECT_FALSE(response->setContentType("text/html\r\nX: y"));
    EXPECT_FALSE(response->setETag("\"a\"\n"));
    EXPECT_EQ(response->additionalHeaders(), (std::map<std::string, std::string>{{"X-Name", "value"}}));
    EXPECT_FALSE(response->contentType());
    EXPECT_TRUE(response->setValueForAdditionalHeader("X-Name", std::nullopt));
    EXPECT_TRUE(response->additionalHeaders().empty());
    EXPECT_EQ(HttpServerDataResponse::responseWithData({}, "text/plain\r\nX: y"), nullptr);
}

TEST(HttpServerResponse, DataResponsesAndTheirForms)
{
    const auto text = HttpServerDataResponse::responseWithText("h\xC3\xA9llo");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->contentType(), "text/plain; charset=utf-8");
    EXPECT_EQ(text->contentLength(), 6u);
    EXPECT_EQ(drain(*text).bytes, "h\xC3\xA9llo");
    EXPECT_EQ(text->description(), "Status Code = 200\nContent Type = text/plain; charset=utf-8\nContent Length = 6\n"
                                   "Cache Control Max Age = 0\n\nh\xC3\xA9llo");
    EXPECT_EQ(HttpServerDataResponse::responseWithText("\xFF"), nullptr);

    const auto json = HttpServerDataResponse::responseWithJSONObject({{"a", 1}});
    ASSERT_TRUE(json);
    EXPECT_EQ(json->contentType(), "application/json");
    EXPECT_EQ(drain(*json).bytes, "{\"a\":1}");
    EXPECT_EQ(HttpServerDataResponse::responseWithJSONObject(nlohmann::json::parse("{", nullptr, false)), nullptr);
    EXPECT_EQ(HttpServerDataResponse::responseWithJSONObject(nlohmann::json("\xFF")), nullptr);

    TempDir dir;
    writeFile(dir / "page.html", "<p>%name% and %name%, %missing%</p>");
    const auto page = HttpServerDataResponse::responseWithHTMLTemplate((dir / "page.html").string(), {{"name", "%name%!"}});
    ASSERT_TRUE(page);
    EXPECT_EQ(drain(*page).bytes, "<p>%name%! and %name%!, %missing%</p>");
    EXPECT_EQ(HttpServerDataResponse::responseWithHTMLTemplate((dir / "none.html").string(), {}), nullptr);
}

TEST(HttpServerResponse, ErrorPagesEscapeWhatTheyEcho)
{
    const HttpError underlying{"Domain<x>", 7, "bad \"thing\" & more"};
    const auto page = HttpServerErrorResponse::responseWithClientError(404, "No file at \"/<script>alert(1)</script>\"", &underlying);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->statusCode(), 404);
    EXPECT_EQ(page->contentType(), "text/html; charset=utf-8");
    EXPECT_EQ(drain(*page).bytes,
              "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>HTTP Error 404</title></head><body>"
              "<h1>HTTP Error 404: No file at &quot;/&lt;script&gt;alert(1)&lt;/script&gt;&quot;</h1>"
              "<h3>[Domain&lt;x&gt;] bad &quot;thing&quot; &amp; more (7)</h3></body></html>");
    const auto server = HttpServerErrorResponse::responseWithServerError(500, "x");
    ASSERT_TRUE(server);
    EXPECT_NE(drain(*server).bytes.find("<h1>HTTP Error 500: x</h1><h3></h3>"), std::string::npos);
}

TEST(HttpServerResponse, FileResponsesSendTheRangeAsked)
{
    TempDir dir;
    std::string contents;
    for (int i = 0; i < 1000; ++i) {
        contents += static_cast<char>('a' + i % 26);
    }
    const std::string path = (dir / "file.txt").string();
    writeFile(path, contents);

    const auto whole = HttpServerFileResponse::responseWithFile(path);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->statusCode(), 200);
    EXPECT_EQ(whole->contentType(), "text/plain");
    EXPECT_EQ(whole->contentLength(), 1000u);
    EXPECT_TRUE(whole->eTag());
    EXPECT_TRUE(whole->lastModifiedDate());
    EXPECT_EQ(whole->additionalHeaders().count("Content-Range"), 0u);
    EXPECT_EQ(drain(*whole).bytes, contents);

    const auto tail = HttpServerFileResponse::responseWithFile(path, HttpServerByteRange{500, HttpServerByteRange::kNotFound});
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->statusCode(), 206);
    EXPECT_EQ(tail->additionalHeaders().at("Content-Range"), "bytes 500-999/1000");
    EXPECT_EQ(tail->contentLength(), 500u);
    EXPECT_EQ(drain(*tail).bytes, contents.substr(500));

    const auto suffix = HttpServerFileResponse::responseWithFile(path, *HttpServerByteRange::parse("bytes=-100"));
    ASSERT_TRUE(suffix);
    EXPECT_EQ(suffix->additionalHeaders().at("Content-Range"), "bytes 900-999/1000");
    EXPECT_EQ(drain(*suffix).bytes, contents.substr(900));

    const auto first = HttpServerFileResponse::responseWithFile(path, *HttpServerByteRange::parse("bytes=0-0"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->additionalHeaders().at("Content-Range"), "bytes 0-0/1000");
    EXPECT_EQ(drain(*first).bytes, "a");

    const auto middle = HttpServerFileResponse::responseWithFile(path, *HttpServerByteRange::parse("bytes=26-51"));
    ASSERT_TRUE(middle);
    EXPECT_EQ(drain(*middle).bytes, "abcdefghijklmnopqrstuvwxyz");

    EXPECT_EQ(HttpServerFileResponse::responseWithFile(path, HttpServerByteRange{1000, HttpServerByteRange::kNotFound}), nullptr);

    // Large files come in pieces of at most 32 KiB, all of them.
    const std::string big = sampleText(100000);
    writeFile(dir / "big.bin", big);
    const auto large = HttpServerFileResponse::responseWithFile((dir / "big.bin").string());
    ASSERT_TRUE(large);
    EXPECT_EQ(drain(*large).bytes, big);
}

TEST(HttpServerResponse, FileResponsesRefuseLinksFoldersAndMissingFiles)
{
    TempDir dir;
    writeFile(dir / "real.txt", "secret");
    std::filesystem::create_symlink(dir / "real.txt", dir / "link.txt");
    EXPECT_EQ(HttpServerFileResponse::responseWithFile((dir / "link.txt").string()), nullptr);
    EXPECT_EQ(HttpServerFileResponse::responseWithFile(dir.path().string()), nullptr);
    EXPECT_EQ(HttpServerFileResponse::responseWithFile((dir / "none").string()), nullptr);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(HttpServerFileResponse::responseWithFile((dir / "fifo").string()), nullptr);

    // The file opened at creation is the one sent, even if the path is swapped for a link afterwards.
    writeFile(dir / "served.txt", "served");
    const auto response = HttpServerFileResponse::responseWithFile((dir / "served.txt").string());
    ASSERT_TRUE(response);
    std::filesystem::remove(dir / "served.txt");
    std::filesystem::create_symlink(dir / "real.txt", dir / "served.txt");
    EXPECT_EQ(drain(*response).bytes, "served");
}

TEST(HttpServerResponse, AttachmentNamesAreQuotedSafely)
{
    TempDir dir;
    const std::string name = "r\xC3\xA9sum\xC3\xA9 \"\xE6\x97\xA5\" a\rb.pdf";
    writeFile(dir / name, "%PDF");
    const auto response = HttpServerFileResponse::responseWithFile((dir / name).string(), true);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->contentType(), "application/pdf");
    EXPECT_EQ(response->additionalHeaders().at("Content-Disposition"),
              "attachment; filename=\"r\xC3\xA9sum\xC3\xA9 ? ab.pdf\"; "
              "filename*=UTF-8''r%C3%A9sum%C3%A9%20%22%E6%97%A5%22%20a%0Db.pdf");
}

TEST(HttpServerResponse, StreamedResponsesEndAtTheEmptyPiece)
{
    int calls = 0;
    const auto streamed = HttpServerStreamedResponse::responseWithContentType("text/plain", [&calls](HttpError*) {
        ++calls;
        return HttpServerBodyReader::Piece(calls <= 3 ? bytesOf("piece" + std::to_string(calls)) : std::vector<uint8_t>());
    });
    ASSERT_TRUE(streamed);
    EXPECT_TRUE(streamed->usesChunkedTransferEncoding());
    EXPECT_EQ(drain(*streamed).bytes, "piece1piece2piece3");

    const auto failing = HttpServerStreamedResponse::responseWithContentType("text/plain", [](HttpError* error) {
        HttpError::assign(error, HttpError{HttpError::kServerDomain, 9, "gone"});
        return HttpServerBodyReader::Piece();
    });
    const Body body = drain(*failing);
    EXPECT_FALSE(body.ok);
    EXPECT_EQ(body.error.code, 9);
}

TEST(HttpServerResponse, GzipBodiesAreReadByTheGzipCommand)
{
    TempDir dir;
    const std::string text = sampleText(700000);  // more than the first output buffer holds

    const auto data = HttpServerDataResponse::responseWithData(bytesOf(text), "text/plain");
    data->setGZipContentEncodingEnabled(true);
    const Body compressed = drain(*data);
    ASSERT_TRUE(compressed.ok);
    EXPECT_EQ(data->contentLength(), HttpServerResponse::kUnknownLength);
    EXPECT_TRUE(data->usesChunkedTransferEncoding());
    EXPECT_EQ(data->additionalHeaders().at("Content-Encoding"), "gzip");
    EXPECT_LT(compressed.bytes.size(), text.size());
    EXPECT_EQ(gunzipWithTheGzipCommand(dir, compressed.bytes), text);

    // Many small asynchronous pieces, and a file body.
    int calls = 0;
    const auto streamed = HttpServerStreamedResponse::responseWithAsyncContentType("text/plain", [&](auto completion) {
        ++calls;
        completion(calls <= 50 ? bytesOf(text.substr(0, 1000)) : std::vector<uint8_t>(), HttpError{});
    });
    streamed->setGZipContentEncodingEnabled(true);
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        expected += text.substr(0, 1000);
    }
    EXPECT_EQ(gunzipWithTheGzipCommand(dir, drain(*streamed).bytes), expected);

    writeFile(dir / "file.txt", text);
    const auto file = HttpServerFileResponse::responseWithFile((dir / "file.txt").string(), *HttpServerByteRange::parse("bytes=1000-"));
    file->setGZipContentEncodingEnabled(true);
    EXPECT_EQ(gunzipWithTheGzipCommand(dir, drain(*file).bytes), text.substr(1000));

    // The trailer's length and CRC hold too.
    writeFile(dir / "ours.gz", compressed.bytes);
    const auto check = Shell::run({"gzip", "-t", (dir / "ours.gz").string()});
    ASSERT_TRUE(check);
    EXPECT_EQ(check->exitCode, 0);
}
