#include "FerlowCore/Base64URL.h"

#include <openssl/evp.h>

namespace ferlow {

namespace {

bool isStandardAlphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Decodes text already checked to be a whole number of padded quads.
std::optional<Bytes> decodeQuads(std::string_view text, std::size_t padding)
{
    Bytes out(text.size() / 4 * 3);
    if (text.empty())
        return out;
    const int written = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
        static_cast<int>(text.size()));
    if (written < 0 || static_cast<std::size_t>(written) != out.size())
        return std::nullopt;
    // EVP_DecodeBlock counts padding as zero bytes; drop them.
    out.resize(out.size() - padding);
    return out;
}

} // namespace

std::string Base64::encode(ByteView bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    if (!bytes.empty()) {
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
            static_cast<int>(bytes.size()));
        out.resize(static_cast<std::size_t>(written));
    }
    return out;
}

std::optional<Bytes> Base64::decode(std::string_view text)
{
    if (text.size() % 4 != 0 || text.size() > std::size_t(1) << 30)
        return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    const auto body = text.substr(0, text.size() - padding);
    for (const char c : body)
        if (!isStandardAlphabet(c))
            return std::nullopt;
    return decodeQuads(text, padding);
}

std::string Base64URL::encode(ByteView bytes)
{
    std::string text = Base64::encode(bytes);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char& c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return text;
}

std::optional<Bytes> Base64URL::decode(std::string_view text)
{
    if (text.size() % 4 == 1 || text.size() > std::size_t(1) << 30)
        return std::nullopt;
    std::string standard;
    standard.reserve(text.size() + 2);
    for (const char c : text) {
        if (c == '-')
            standard.push_back('+');
        else if (c == '_')
            standard.push_back('/');
        else if (!isStandardAlphabet(c))
            return std::nullopt; // "=", whitespace and everything else outside the alphabet
        else
            standard.push_back(c);
    }
    const std::size_t padding = (4 - standard.size() % 4) % 4;
    standard.append(padding, '=');
    return decodeQuads(standard, padding);
}

} // namespace ferlow
