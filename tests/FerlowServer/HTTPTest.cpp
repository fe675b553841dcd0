#include <gtest/gtest.h>

#include "FerlowServer/FileResponse.h"
#include "FerlowServer/HTTPRequest.h"

namespace ferlow {
namespace {

std::optional<HTTPRequest> parseText(const std::string& text)
{
    Bytes buffer = toBytes(text);
    return HTTPRequest::parse(buffer);
}

std::optional<HTTPError::Kind> failure(const std::string& text)
{
    try {
        parseText(text);
    } catch (const HTTPError& error) {
        return error.kind();
    }
    return std::nullopt;
}

TEST(HTTPRequest, LineRules)
{
    const auto request = parseText("get    /a?b   HTTP/1.0\r\nHost : desk.local:7311 \r\nX-A: 1\r\nx-a:\t2\r\nE:\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "get"); // case kept: routing refuses it
    EXPECT_EQ(request->path, "/a?b");
    EXPECT_EQ(request->header("host"), "desk.local:7311");
    EXPECT_EQ(request->header("x-a"), "2");
    EXPECT_EQ(request->header("e"), "");

    for (const char* head : {"GET / HTTP/2", "GET /", "GET a HTTP/1.1", "GET\t/\tHTTP/1.1", "GET / HTTP/1.1 x", "",
             "GET / HTTP/1.1\r\nNoColon", "GET / HTTP/1.1\r\n\r"})
        EXPECT_EQ(failure(std::string(head) + "\r\n\r\n"), HTTPError::Kind::malformed) << head;
}

TEST(HTTPRequest, InvalidUTF8BecomesReplacementCharacters)
{
    const auto request = parseText("GET /\xFF\xE2\x82 HTTP/1.1\r\nX: \xC3\xA9\xED\xA0\x80\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path, "/\xEF\xBF\xBD\xEF\xBF\xBD");                         // a lone byte; a cut sequence
    EXPECT_EQ(request->header("x"), "\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a surrogate gives three
}

TEST(FileResponse, BytesAreExact)
{
    const std::string tail = "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                             "Referrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
    const FileResponse full {200, "text/html; charset=utf-8", toBytes("<p>"), std::nullopt};
    EXPECT_EQ(asText(full.bytes()), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                    "Content-Length: 3\r\nAccept-Ranges: bytes\r\n" + tail + "<p>");
    // HEAD: the same head with the GET's length, and no body.
    EXPECT_EQ(asText(full.bytes(BodyMode::omit)), asText(full.bytes()).substr(0, full.bytes().size() - 3));

    const FileResponse part {206, "video/mp4", toBytes("ab"), "bytes 0-1/9"};
    EXPECT_EQ(asText(part.bytes()), "HTTP/1.1 206 Partial Content\r\nContent-Type: video/mp4\r\nContent-Length: 2\r\n"
                                    "Accept-Ranges: bytes\r\nContent-Range: bytes 0-1/9\r\n" + tail + "ab");
    EXPECT_EQ(FileResponse::reasonPhrase(416), "Range Not Satisfiable");
    EXPECT_EQ(FileResponse::reasonPhrase(500), "Error");
}

} // namespace
} // namespace ferlow
