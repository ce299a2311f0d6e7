#include "RequestTestSupport.h"

#include "WebServer/HttpServerMIMEStreamParser.h"
#include "WebServer/HttpServerMultiPartFormRequest.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace RequestTestSupport;

namespace {

const std::string kBoundary = "----Form7MA4YWxk";

// File content that carries line breaks and near-boundaries, so only the real delimiter ends it.
std::string fileContent()
{
    std::string content;
    for (int i = 0; i < 300; ++i)
        content += static_cast<char>(i % 256);
    content += "\r\n--" + kBoundary.substr(0, 8) + "\r\n\r\n--" + kBoundary + "X\r\n-";
    return content;
}

std::string formBody()
{
    const std::string b = "--" + kBoundary;
    return "preamble to ignore\r\n" + b + "\r\n"
        "Content-Disposition: form-data; name=\"title\"\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n\r\n"
        "caf\xC3\xA9\r\n" + b + "\r\n"
        "content-disposition: form-data; filename=\"notes.bin\"; name=\"upload\"\r\n"
        "Content-Type: Application/Octet-Stream\r\n\r\n"
        + fileContent() + "\r\n" + b + "\r\n"
        "Content-Disposition: form-data; name=\"empty\"\r\n\r\n"
        "\r\n" + b + "\r\n"
        "Content-Disposition: form-data; name=\"album\"\r\n"
        "Content-Type: multipart/mixed; boundary=inner\r\n\r\n"
        "--inner\r\n"
        "Content-Disposition: file; filename=\"a.txt\"\r\n\r\n"
        "first\r\n--inner\r\n"
        "Content-Disposition: file; filename=\"b.txt\"\r\n\r\n"
        "second\r\n--inner--\r\n"
        "\r\n" + b + "--\r\nepilogue";
}

std::unique_ptr<HttpServerMultiPartFormRequest> formRequest(const std::string& contentType = "multipart/form-data; boundary=" + kBoundary)
{
    return HttpServerRequest::create<HttpServerMultiPartFormRequest>("POST", "/upload",
        { { "Content-Type", contentType }, { "Transfer-Encoding", "chunked" } }, "/upload", {});
}

// Everything the parse produced, file contents included.
std::string summary(const HttpServerMultiPartFormRequest& request)
{
    std::string text;
    for (const auto& argument : request.arguments())
        text += argument.controlName() + "|" + argument.contentType() + "|" + std::string(argument.data().begin(), argument.data().end()) + "\n";
    for (const auto& file : request.files()) {
        const auto content = readFile(file.temporaryPath());
        text += file.controlName() + "|" + file.contentType() + "|" + file.fileName() + "|" + std::string(content.begin(), content.end()) + "\n";
    }
    return text;
}

} // namespace

TEST(MIMEStreamParserTest, FormWithFieldsFilesAndAMixedPart)
{
    auto request = formRequest();
    const auto body = bytes(formBody());
    const auto outcome = feedBody(*request, body);
    ASSERT_TRUE(outcome.ok) << outcome.error.description;

    ASSERT_EQ(request->arguments().size(), 2u);
    const auto* title = request->firstArgumentForControlName("title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->string(), "caf\xC3\xA9");
    EXPECT_EQ(title->mimeType(), "text/plain");
    const auto* empty = request->firstArgumentForControlName("empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->data().empty());
    EXPECT_EQ(empty->contentType(), "text/plain");

    ASSERT_EQ(request->files().size(), 3u);
    const auto* upload = request->firstFileForControlName("upload");
    ASSERT_NE(upload, nullptr);
    EXPECT_EQ(upload->fileName(), "notes.bin");
    EXPECT_EQ(upload->contentType(), "application/octet-stream");
    EXPECT_EQ(readFile(upload->temporaryPath()), bytes(fileContent()));
    EXPECT_EQ(std::filesystem::path(upload->temporaryPath()).parent_path(), std::filesystem::temp_directory_path());
    // The inner parts take the outer part's control name.
    EXPECT_EQ(request->files()[1].controlName(), "album");
    EXPECT_EQ(request->files()[1].fileName(), "a.txt");
    EXPECT_EQ(readFile(request->files()[2].temporaryPath()), bytes("second"));

    std::vector<std::string> paths;
    for (const auto& file : request->files())
        paths.push_back(file.temporaryPath());
    request.reset();
    for (const auto& path : paths)
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
}

TEST(MIMEStreamParserTest, SplitAtEveryOffsetOrByteByByteParsesTheSame)
{
    const auto body = bytes(formBody());
    auto whole = formRequest();
    ASSERT_TRUE(feedBody(*whole, body).ok);
    const std::string expected = summary(*whole);

    auto byteByByte = formRequest();
    ASSERT_TRUE(feedBody(*byteByByte, body, 1).ok);
    EXPECT_EQ(summary(*byteByByte), expected);

    for (size_t offset = 0; offset <= body.size(); ++offset) {
        auto request = formRequest();
        ASSERT_TRUE(feedSplit(*request, body, offset).ok) << offset;
        ASSERT_EQ(summary(*request), expected) << offset;
    }
}

TEST(MIMEStreamParserTest, ParametersAreMatchedOnlyAtAParameterBoundary)
{
    auto request = formRequest("multipart/form-data; xboundary=wrong; boundary=right");
    const auto outcome = feedBody(*request, bytes("--right\r\n"
                                                  "Content-Disposition: form-data; filename=\"f.txt\"; name=\"doc\"\r\n\r\n"
                                                  "data\r\n--right--\r\n"));
    ASSERT_TRUE(outcome.ok);
    ASSERT_EQ(request->files().size(), 1u);
    EXPECT_EQ(request->files()[0].controlName(), "doc");
    EXPECT_EQ(request->files()[0].fileName(), "f.txt");

    // "filename=" alone gives no control name: the part is refused.
    auto nameless = formRequest("multipart/form-data; boundary=right");
    EXPECT_FALSE(feedBody(*nameless, bytes("--right\r\nContent-Disposition: form-data; filename=\"f.txt\"\r\n\r\nx\r\n--right--\r\n")).ok);
}

TEST(MIMEStreamParserTest, MalformedBodiesFail)
{
    const auto fails = [](const std::string& contentType, const std::string& body) {
        auto request = formRequest(contentType);
        return !feedBody(*request, bytes(body)).ok;
    };
    const std::string type = "multipart/form-data; boundary=b";
    EXPECT_TRUE(fails("multipart/form-data", "--b--\r\n"));
    EXPECT_TRUE(fails("multipart/form-data; boundary=\"caf\xC3\xA9\"", "x"));
    // Closing before the last boundary.
    EXPECT_TRUE(fails(type, "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b\r\n"));
    EXPECT_TRUE(fails(type, ""));
    // A boundary straight after the head, with no line break before it: content, never a negative length.
    EXPECT_TRUE(fails(type, "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n--b--\r\n"));
    EXPECT_TRUE(fails(type, "--b\r\n\r\n\r\n--b--\r\n"));
    EXPECT_TRUE(fails(type, "--b\r\nContent-Disposition: form-data; name=\"a\"\r\nContent-Type: multipart/mixed\r\n\r\nx\r\n--b--\r\n"));

    auto valid = formRequest(type);
    EXPECT_TRUE(feedBody(*valid, bytes("--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b--\r\n")).ok);
}

TEST(MIMEStreamParserTest, CapsRefuseWith413)
{
    const std::string type = "multipart/form-data; boundary=b";
    const auto refused = [&](const HttpServerMIMEStreamParser::Limits& limits, const std::string& body) {
        auto request = formRequest(type);
        request->setLimits(limits);
        const auto outcome = feedBody(*request, bytes(body), 64);
        return !outcome.ok && isPayloadTooLarge(outcome.error);
    };
    const std::string head = "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n";
    HttpServerMIMEStreamParser::Limits limits;
    limits.maxFieldLength = 1000;
    EXPECT_FALSE(refused(limits, head + std::string(1000, 'x') + "\r\n--b--\r\n"));
    EXPECT_TRUE(refused(limits, head + std::string(1001, 'x') + "\r\n--b--\r\n"));
    // The budget covers all fields together.
    EXPECT_TRUE(refused(limits, head + std::string(600, 'x') + "\r\n" + head.substr(5) + std::string(600, 'y') + "\r\n--b--\r\n"));
    // A field whose boundary never comes is stopped as soon as it passes the cap.
    EXPECT_TRUE(refused(limits, head + std::string(5000, 'x')));
    // A preamble is dropped as it streams by.
    EXPECT_FALSE(refused(limits, std::string(5000, 'p') + "\r\n" + head + "1\r\n--b--\r\n"));

    // File parts stream to disk and do not count.
    const std::string fileHead = "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"big.bin\"\r\n\r\n";
    auto upload = formRequest(type);
    upload->setLimits(limits);
    const std::string big(3u << 20, 'z');
    ASSERT_TRUE(feedBody(*upload, bytes(fileHead + big + "\r\n--b--\r\n"), 65536).ok);
    EXPECT_EQ(std::filesystem::file_size(upload->files().at(0).temporaryPath()), big.size());

    HttpServerMIMEStreamParser::Limits headLimits;
    headLimits.maxHeadLength = 100;
    EXPECT_TRUE(refused(headLimits, "--b\r\nContent-Disposition: form-data; name=\"" + std::string(200, 'n') + "\"\r\n\r\nx\r\n--b--\r\n"));
    EXPECT_TRUE(refused(headLimits, "--b\r\nX-Padding: " + std::string(5000, 'p')));

    HttpServerMIMEStreamParser::Limits partLimits;
    partLimits.maxParts = 3;
    std::string threeParts;
    for (int i = 0; i < 3; ++i)
        threeParts += head + "1\r\n";
    EXPECT_FALSE(refused(partLimits, threeParts + "--b--\r\n"));
    EXPECT_TRUE(refused(partLimits, threeParts + head + "1\r\n--b--\r\n"));
}

TEST(MIMEStreamParserTest, ParserRejectsBadBoundariesAndIgnoresTheEpilogue)
{
    std::vector<HttpServerMultiPartArgument> arguments;
    std::vector<HttpServerMultiPartFile> files;
    const HttpServerMIMEStreamParser::Limits limits;
    EXPECT_EQ(HttpServerMIMEStreamParser::create("", "", arguments, files, limits), nullptr);
    EXPECT_EQ(HttpServerMIMEStreamParser::create("\xFF", "", arguments, files, limits), nullptr);
    EXPECT_EQ(HttpServerMIMEStreamParser::create(std::string(201, 'b'), "", arguments, files, limits), nullptr);

    auto parser = HttpServerMIMEStreamParser::create("b", "", arguments, files, limits);
    ASSERT_NE(parser, nullptr);
    EXPECT_TRUE(parser->appendBytes(bytes("--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--b--\r\n")));
    EXPECT_TRUE(parser->isAtEnd());
    EXPECT_TRUE(parser->appendBytes(bytes("anything at all")));
    EXPECT_EQ(arguments.size(), 1u);
}
