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

HTTPError::Kind parseFailure(const std::string& text)
{
    try {
        parseText(text);
    } catch (const HTTPError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "parsed: " << text;
    return HTTPError::Kind::malformed;
}

// A head of exactly `length` bytes (before its blank line).
std::string headOfLength(std::size_t length)
{
    std::string head = "GET / HTTP/1.1\r\nX-Pad: ";
    head.append(length - head.size(), 'a');
    return head;
}

TEST(HTTPRequest, HeadLengthLimitIsExact)
{
    EXPECT_TRUE(parseText(headOfLength(16384) + "\r\n\r\n"));
    EXPECT_EQ(parseFailure(headOfLength(16385) + "\r\n\r\n"), HTTPError::Kind::headerTooLarge);
    // Without a blank line: wait up to the limit, refuse one byte past it.
    EXPECT_FALSE(parseText(headOfLength(16384)));
    EXPECT_EQ(parseFailure(headOfLength(16385)), HTTPError::Kind::headerTooLarge);
}

TEST(HTTPRequest, IncompleteHeadLeavesBufferAndCompleteHeadKeepsWhatFollows)
{
    Bytes buffer = toBytes("GET / HTTP/1.1\r\nHost: a\r\n");
    EXPECT_FALSE(HTTPRequest::parse(buffer));
    EXPECT_EQ(asText(buffer), "GET / HTTP/1.1\r\nHost: a\r\n");
    buffer = toBytes("GET / HTTP/1.1\r\nHost: a\r\n\r\n\x81\x85rest");
    ASSERT_TRUE(HTTPRequest::parse(buffer));
    EXPECT_EQ(asText(buffer), "\x81\x85rest");
}

TEST(HTTPRequest, RequestLineRules)
{
    const auto request = parseText("GET    /a?b   HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->path, "/a?b");
    EXPECT_EQ(parseText("get / HTTP/1.1\r\n\r\n")->method, "get"); // case kept; routing refuses it

    for (const char* line : {"GET / HTTP/2", "GET /", "GET a HTTP/1.1", "GET\t/\tHTTP/1.1", "GET / HTTP/1.1 x", ""})
        EXPECT_EQ(parseFailure(std::string(line) + "\r\n\r\n"), HTTPError::Kind::malformed) << line;
}

TEST(HTTPRequest, HeaderLines)
{
    const auto request = parseText("GET / HTTP/1.1\r\nHost : example.local:7311 \r\nX-A: 1\r\nx-a:\t2\r\n"
                                   "Empty:\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("host"), "example.local:7311");
    EXPECT_EQ(request->header("x-a"), "2");
    EXPECT_EQ(request->header("empty"), "");
    EXPECT_FALSE(request->header("Host")); // lookups use the lower-case name

    EXPECT_EQ(parseFailure("GET / HTTP/1.1\r\nNoColon\r\n\r\n"), HTTPError::Kind::malformed);
    // A stray CR makes a line without a colon too.
    EXPECT_EQ(parseFailure("GET / HTTP/1.1\r\n\r\r\n\r\n"), HTTPError::Kind::malformed);
}

TEST(HTTPRequest, InvalidUTF8BecomesReplacementCharacters)
{
    const auto request = parseText("GET /\xFF\xE2\x82 HTTP/1.1\r\nX: \xC3\xA9\xED\xA0\x80\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path, "/\xEF\xBF\xBD\xEF\xBF\xBD");                         // lone byte; truncated sequence
    EXPECT_EQ(request->header("x"), "\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a surrogate is three
}

TEST(FileResponse, BytesAreExact)
{
    const FileResponse full {200, "text/html; charset=utf-8", toBytes("<p>"), std::nullopt};
    const std::string fixedTail = "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                                  "Referrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(asText(full.bytes()), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                    "Content-Length: 3\r\nAccept-Ranges: bytes\r\n" + fixedTail + "<p>");
    // HEAD: the same head, the GET's length, no body.
    const auto head = full.bytes(BodyMode::omit);
    EXPECT_EQ(asText(full.bytes()).substr(0, head.size()), asText(head));
    EXPECT_EQ(head.size() + 3, full.bytes().size());

    const FileResponse part {206, "video/mp4", toBytes("ab"), "bytes 0-1/9"};
    EXPECT_EQ(asText(part.bytes()), "HTTP/1.1 206 Partial Content\r\nContent-Type: video/mp4\r\nContent-Length: 2\r\n"
                                    "Accept-Ranges: bytes\r\nContent-Range: bytes 0-1/9\r\n" + fixedTail + "ab");
}

TEST(FileResponse, ReasonPhrases)
{
    const std::pair<int, std::string_view> table[] = {{200, "OK"}, {206, "Partial Content"}, {400, "Bad Request"},
        {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"}, {416, "Range Not Satisfiable"},
        {500, "Error"}, {101, "Error"}};
    for (const auto& [status, phrase] : table)
        EXPECT_EQ(FileResponse::reasonPhrase(status), phrase) << status;
}

} // namespace
} // namespace ferlow
