#include "FerlowServer/FileResponse.h"

namespace ferlow {

std::string_view FileResponse::reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    default: return "Error";
    }
}

Bytes FileResponse::bytes(BodyMode mode) const
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + " ";
    head += reasonPhrase(status);
    head += "\r\nContent-Type: " + contentType;
    head += "\r\nContent-Length: " + std::to_string(body.size());
    head += "\r\nAccept-Ranges: bytes\r\n";
    if (contentRange)
        head += "Content-Range: " + *contentRange + "\r\n";
    head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n"
            "Connection: close\r\n\r\n";
    Bytes out = toBytes(head);
    if (mode == BodyMode::include)
        out.insert(out.end(), body.begin(), body.end());
    return out;
}

} // namespace ferlow
