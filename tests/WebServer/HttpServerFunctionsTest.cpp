#include "WebServer/HttpServerFunctions.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

using F = HttpServerFunctions;

namespace {

F::Date at(long long seconds)
{
    return F::Date(std::chrono::seconds(seconds));
}

} // namespace

TEST(HttpServerFunctions, DatesFormatAndParseBothWays)
{
    EXPECT_EQ(F::formatRFC822Date(at(0)), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(F::formatISO8601Date(at(0)), "1970-01-01T00:00:00+00:00");
    EXPECT_EQ(F::formatRFC822Date(at(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(F::formatISO8601Date(at(784111777)), "1994-11-06T08:49:37+00:00");
    // Fractions of a second are dropped, not rounded.
    EXPECT_EQ(F::formatRFC822Date(at(784111777) + std::chrono::milliseconds(999)), "Sun, 06 Nov 1994 08:49:37 GMT");

    EXPECT_EQ(F::parseRFC822Date("Sun, 06 Nov 1994 08:49:37 GMT"), at(784111777));
    EXPECT_EQ(F::parseRFC822Date("sun, 06 nov 1994 08:49:37 GMT"), at(784111777));
    EXPECT_EQ(F::parseISO8601Date("1994-11-06T08:49:37+00:00"), at(784111777));
    EXPECT_EQ(F::parseRFC822Date(F::formatRFC822Date(at(1700000000))), at(1700000000));
    EXPECT_EQ(F::parseISO8601Date(F::formatISO8601Date(at(1700000000))), at(1700000000));

    for (const char* bad : {"", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 08:49:37 GMT ", "Sun, 31 Feb 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 6 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 94 08:49:37 GMT",
                            "Xyz, 06 Nov 1994 08:49:37 GMT", "Sun, +6 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT"}) {
        EXPECT_FALSE(F::parseRFC822Date(bad)) << bad;
    }
    EXPECT_FALSE(F::parseISO8601Date("1994-13-06T08:49:37+00:00"));
    EXPECT_FALSE(F::parseISO8601Date("1994-11-06T08:49:37Z"));
}

TEST(HttpServerFunctions, HeaderValuesAndParameters)
{
    EXPECT_EQ(F::normalizeHeaderValue("Multipart/Form-Data; Boundary=XyZ"), "multipart/form-data; Boundary=XyZ");
    EXPECT_EQ(F::normalizeHeaderValue("TEXT/Plain"), "text/plain");
    EXPECT_EQ(F::truncateHeaderValue("text/html; charset=utf-8"), "text/html");
    EXPECT_EQ(F::truncateHeaderValue("text/html"), "text/html");

    EXPECT_EQ(F::extractHeaderParameter("multipart/form-data; charset=utf-8; boundary=XyZ", "boundary"), "XyZ");
    EXPECT_EQ(F::extractHeaderParameter("multipart/form-data;BOUNDARY=\"a b;c\"", "boundary"), "a b;c");
    EXPECT_EQ(F::extractHeaderParameter("text/plain; charset=utf-8;format=flowed", "charset"), "utf-8");
    // A name matches only a whole parameter name: "name" is not the tail of "filename".
    EXPECT_EQ(F::extractHeaderParameter("form-data; filename=\"f.txt\"; name=\"field\"", "name"), "field");
    EXPECT_EQ(F::extractHeaderParameter("form-data; filename=\"f.txt\"", "name"), std::nullopt);
    EXPECT_EQ(F::extractHeaderParameter("boundary=XyZ", "boundary"), std::nullopt);
    EXPECT_EQ(F::extractHeaderParameter("a/b; boundary=\"\"", "boundary"), std::nullopt);
    EXPECT_EQ(F::extractHeaderParameter("a/b; boundary=\"open", "boundary"), std::nullopt);
    EXPECT_EQ(F::extractHeaderParameter("a/b; boundary=", "boundary"), std::nullopt);
}

TEST(HttpServerFunctions, TextEncodingsAndBodyDescriptions)
{
    const std::vector<uint8_t> latin = {'c', 'a', 'f', 0xE9};
    EXPECT_EQ(F::decodeText(latin, F::encodingForCharset("ISO-8859-1")), "caf\xC3\xA9");
    EXPECT_EQ(F::decodeText(latin, F::encodingForCharset(std::nullopt)), std::nullopt);
    EXPECT_EQ(F::decodeText(latin, F::encodingForCharset("us-ascii")), std::nullopt);
    EXPECT_EQ(F::encodingForCharset("no-such-charset"), F::TextEncoding::UTF8);

    EXPECT_TRUE(F::isValidUTF8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"}) {
        EXPECT_FALSE(F::isValidUTF8(bad)) << bad;
    }

    EXPECT_EQ(F::describeBodyData(latin, "text/plain; charset=iso-8859-1"), "caf\xC3\xA9");
    EXPECT_EQ(F::describeBodyData(latin, "text/plain"), "<4 bytes>");
    EXPECT_EQ(F::describeBodyData(latin, "image/png"), "<4 bytes>");
    EXPECT_TRUE(F::isTextContentType("application/json; charset=utf-8"));
    EXPECT_FALSE(F::isTextContentType("image/svg+xml"));
}

TEST(HttpServerFunctions, MimeTypes)
{
    EXPECT_EQ(F::mimeTypeForExtension("CSS"), "text/css");
    EXPECT_EQ(F::mimeTypeForExtension("jpg"), "image/jpeg");
    EXPECT_EQ(F::mimeTypeForExtension("Mp4"), "video/mp4");
    EXPECT_EQ(F::mimeTypeForExtension("html"), "text/html");
    EXPECT_EQ(F::mimeTypeForExtension("nosuchextension"), "application/octet-stream");
    EXPECT_EQ(F::mimeTypeForExtension(""), "application/octet-stream");
    const HttpMimeOverrides overrides = {{"css", "text/x-mine"}};
    EXPECT_EQ(F::mimeTypeForExtension("Css", &overrides), "text/x-mine");
}

TEST(HttpServerFunctions, URLEscapingRoundTrips)
{
    EXPECT_EQ(F::escapeURLString("a b:@/?&=+#%"), "a%20b%3A%40%2F%3F%26%3D%2B%23%25");
    EXPECT_EQ(F::escapeURLString("caf\xC3\xA9"), "caf%C3%A9");
    EXPECT_EQ(F::escapeURLString("Az09-._~"), "Az09-._~");
    EXPECT_EQ(F::escapeURLString(std::string("a\0b", 3)), "a%00b");
    for (const std::string text : {"a b:@/?&=+#%", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", "%41", "100%"}) {
        EXPECT_EQ(F::unescapeURLString(F::escapeURLString(text)), text);
    }
    EXPECT_EQ(F::unescapeURLString("%e6%97%a5+x"), "\xE6\x97\xA5+x");
    EXPECT_EQ(F::unescapeURLString("%C3"), std::nullopt);  // not UTF-8
    EXPECT_EQ(F::unescapeURLString("%4"), std::nullopt);
    EXPECT_EQ(F::unescapeURLString("%zz"), std::nullopt);
}

TEST(HttpServerFunctions, URLEncodedForms)
{
    const auto form = F::parseURLEncodedForm("a=1&b=x+y%21&c");
    EXPECT_EQ(form, (std::map<std::string, std::string>{{"a", "1"}, {"b", "x y!"}}));
    EXPECT_TRUE(F::parseURLEncodedForm("=1&b=2").empty());
    EXPECT_EQ(F::parseURLEncodedForm("a=1&a=2&e="), (std::map<std::string, std::string>{{"a", "2"}, {"e", ""}}));
    // A pair that does not decode is skipped; the rest survive.
    EXPECT_EQ(F::parseURLEncodedForm("bad=%ZZ&ok=%C3%A9"), (std::map<std::string, std::string>{{"ok", "\xC3\xA9"}}));
}

TEST(HttpServerFunctions, SocketAddressesAndPrimaryAddress)
{
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(8080);
    inet_pton(AF_INET, "127.0.0.1", &v4.sin_addr);
    EXPECT_EQ(F::socketAddressText(reinterpret_cast<sockaddr*>(&v4), sizeof(v4), true), "127.0.0.1:8080");
    EXPECT_EQ(F::socketAddressText(reinterpret_cast<sockaddr*>(&v4), sizeof(v4), false), "127.0.0.1");
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(80);
    v6.sin6_addr = in6addr_loopback;
    EXPECT_EQ(F::socketAddressText(reinterpret_cast<sockaddr*>(&v6), sizeof(v6), true), "::1:80");
    EXPECT_EQ(F::socketAddressText(reinterpret_cast<sockaddr*>(&v4), 2, true), "");
    EXPECT_EQ(F::socketAddressText(nullptr, 0, true), "");

    // Whatever the machine's interfaces, an answer is a numeric address.
    if (const auto address = F::primaryNetworkAddress(false)) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, address->c_str(), &parsed), 1) << *address;
    }
}

TEST(HttpServerFunctions, Md5AndPaths)
{
    EXPECT_EQ(F::md5HexDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(F::md5HexDigest("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(F::md5HexDigest("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");

    EXPECT_EQ(F::normalizeRequestPath("/a/./b/../../../c/"), "/c");
    EXPECT_EQ(F::normalizeRequestPath("a//b"), "a/b");
    EXPECT_EQ(F::normalizeRequestPath(""), "");
    EXPECT_EQ(F::normalizeRequestPath("/../../etc/passwd"), "/etc/passwd");
    EXPECT_EQ(F::normalizeRequestPath("/"), "/");
}

TEST(HttpServerFunctions, HtmlAndHeaderSafety)
{
    EXPECT_EQ(F::escapeHTML("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
    EXPECT_TRUE(F::isValidHeaderValue("text/html; charset=utf-8"));
    EXPECT_FALSE(F::isValidHeaderValue("a\r\nSet-Cookie: x"));
    EXPECT_FALSE(F::isValidHeaderValue("a\nb"));
    EXPECT_FALSE(F::isValidHeaderValue(std::string_view("a\0b", 3)));
    EXPECT_TRUE(F::isValidHeaderName("X-Custom"));
    EXPECT_FALSE(F::isValidHeaderName("X Custom"));
    EXPECT_FALSE(F::isValidHeaderName("X:"));
    EXPECT_FALSE(F::isValidHeaderName(""));
}
