#include "WebServer/HttpServerChunkParser.h"
#include "WebServer/HttpServerHeadParser.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

std::span<const uint8_t> span(std::string_view text) { return {reinterpret_cast<const uint8_t*>(text.data()), text.size()}; }

using Head = HttpServerHeadParser::State;

Head parseWhole(std::string_view text, HttpServerHeadParser& parser) { return parser.append(span(text)); }

TEST(ConnectionHeadParserTest, ParsesAHeadFedOneByteAtATime)
{
    const std::string head = "PUT /a%20b/c?x=1&y=2 HTTP/1.1\r\nHost: h\r\nX-Twice: 1\r\nx-twice: 2\r\nContent-Length:  5 \r\n\r\nhello";
    HttpServerHeadParser parser;
    const size_t last = head.find("\r\n\r\n") + 3;
    for (size_t i = 0; i < last; ++i)
        ASSERT_EQ(parser.append(span(std::string_view(head).substr(i, 1))), Head::NeedMore) << i;
    // The final byte of the head arrives together with the start of the body.
    ASSERT_EQ(parser.append(span(std::string_view(head).substr(last))), Head::Complete);
    EXPECT_EQ(parser.method(), "PUT");
    EXPECT_EQ(parser.target(), "/a%20b/c?x=1&y=2");
    EXPECT_EQ(parser.headers().at("X-Twice"), "1, 2");
    EXPECT_EQ(parser.headers().at("Content-Length"), "5");
    EXPECT_EQ(std::string(parser.remainder().begin(), parser.remainder().end()), "hello");
    std::string path, query;
    ASSERT_TRUE(HttpServerHeadParser::splitTarget(parser.target(), path, query));
    EXPECT_EQ(path, "/a b/c");
    EXPECT_EQ(query, "x=1&y=2");
}

TEST(ConnectionHeadParserTest, RefusesMalformedHeads)
{
    for (const char* head : {
             "GET /\r\n\r\n",                                             // no version
             "GET / HTTP/2.0\r\n\r\n",                                     // unsupported version
             "G(T / HTTP/1.1\r\n\r\n",                                     // method is no token
             "GET / HTTP/1.1\r\nNo colon here\r\n\r\n",                    // field without ":"
             "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n",                      // name is no token
             "GET / HTTP/1.1\r\nA: b\r\n  folded\r\n\r\n",                 // obsolete folding
             "GET / HTTP/1.1\r\nA: b\nC: d\r\n\r\n",                       // bare LF
             "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n",               // two hosts
             "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",  // disagreeing lengths
             "\r\n\r\n",
             "GET / HTTP/1.1\r\nAccept: */*\r\n\r\n",                      // HTTP/1.1 without "Host"
         }) {
        HttpServerHeadParser parser;
        EXPECT_EQ(parseWhole(head, parser), Head::Malformed) << head;
        EXPECT_EQ(parser.failureStatus(), 400);
    }
    HttpServerHeadParser same;
    EXPECT_EQ(parseWhole("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\n", same), Head::Complete);
    HttpServerHeadParser old;
    EXPECT_EQ(parseWhole("GET / HTTP/1.0\r\n\r\n", old), Head::Complete) << "HTTP/1.0 needs no Host";
}

TEST(ConnectionHeadParserTest, CapsTheHeadAndItsFieldCount)
{
    HttpServerHeadParser parser(64);
    EXPECT_EQ(parseWhole("GET / HTTP/1.1\r\nX: " + std::string(100, 'a'), parser), Head::TooLarge);
    EXPECT_EQ(parser.failureStatus(), 431);
    // Once failed it stays failed.
    EXPECT_EQ(parseWhole("\r\n\r\n", parser), Head::TooLarge);

    std::string many = "GET / HTTP/1.1\r\n";
    for (size_t i = 0; i <= HttpServerHeadParser::kMaxFieldCount; ++i)
        many += "F" + std::to_string(i) + ": v\r\n";
    HttpServerHeadParser counted;
    EXPECT_EQ(parseWhole(many + "\r\n", counted), Head::TooLarge);

    // A target past its cap is 414, whether the request line has ended or is still arriving.
    const std::string longTarget = "/" + std::string(HttpServerHeadParser::kMaxTargetLength, 'a');
    HttpServerHeadParser whole;
    EXPECT_EQ(parseWhole("GET " + longTarget + " HTTP/1.1\r\nHost: a\r\n\r\n", whole), Head::TargetTooLong);
    EXPECT_EQ(whole.failureStatus(), 414);
    HttpServerHeadParser arriving;
    EXPECT_EQ(parseWhole("GET " + longTarget + longTarget, arriving), Head::TargetTooLong);
}

TEST(ConnectionHeadParserTest, SplitsAbsoluteTargets)
{
    std::string path, query;
    ASSERT_TRUE(HttpServerHeadParser::splitTarget("http://host:8080/x/y?z", path, query));
    EXPECT_EQ(path, "/x/y");
    EXPECT_EQ(query, "z");
    EXPECT_FALSE(HttpServerHeadParser::splitTarget("*", path, query));
    EXPECT_FALSE(HttpServerHeadParser::splitTarget("/%zz", path, query));
}

struct Chunks {
    std::string body;
    HttpServerChunkParser parser{[this](std::span<const uint8_t> data) {
        body.append(reinterpret_cast<const char*>(data.data()), data.size());
        return true;
    }};
};

TEST(ConnectionChunkParserTest, DecodesWithExtensionsAndTrailersAtAnySplit)
{
    const std::string wire = "1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\nABC\r\n0\r\nTrailer: x\r\n\r\nignored";
    for (size_t split = 0; split <= wire.size(); ++split) {
        Chunks chunks;
        chunks.parser.append(span(std::string_view(wire).substr(0, split)));
        ASSERT_EQ(chunks.parser.append(span(std::string_view(wire).substr(split))), HttpServerChunkParser::State::Complete) << split;
        EXPECT_EQ(chunks.body, "abcdefghijklmnopqrstuvwxyzABC");
    }
}

TEST(ConnectionChunkParserTest, RefusesBadSizesAndFraming)
{
    for (const std::string& wire : {
             std::string("zz\r\n"),                         // not hex
             std::string("-1\r\n"),                         // sign
             std::string("0x10\r\n"),                       // prefix
             std::string("\r\n"),                           // empty size
             std::string("8000000000000000\r\n"),           // above 2^63-1
             std::string("10000000000000000\r\n"),          // seventeen digits would wrap
             std::string("3\r\nabcX\r\n"),                  // no CR LF after the data
             std::string(HttpServerChunkParser::kMaxLineLength + 1, '1'),  // endless size line
             "0\r\n" + std::string(HttpServerChunkParser::kMaxTrailerLength + 1, 'x'),  // endless trailer
         }) {
        Chunks chunks;
        EXPECT_EQ(chunks.parser.append(span(wire)), HttpServerChunkParser::State::Malformed) << wire.substr(0, 20);
    }
    HttpServerChunkParser refusing([](std::span<const uint8_t>) { return false; });
    EXPECT_EQ(refusing.append(span("1\r\na\r\n")), HttpServerChunkParser::State::SinkFailed);
}

}  // namespace
