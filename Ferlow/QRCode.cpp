#include "Ferlow/QRCode.h"

#include <memory>

#include <qrencode.h>

namespace ferlow {

std::optional<QRCode> QRCode::encode(std::string_view text, Correction correction)
{
    // libqrencode reads a C string; text with a NUL in it cannot be meant.
    const std::string terminated(text);
    if (terminated.find('\0') != std::string::npos)
        return std::nullopt;
    const std::unique_ptr<::QRcode, decltype(&::QRcode_free)> symbol(
        ::QRcode_encodeString(terminated.c_str(), 0,
            correction == Correction::low ? QR_ECLEVEL_L : QR_ECLEVEL_M, QR_MODE_8, 1), &::QRcode_free);
    if (!symbol || symbol->width <= 0)
        return std::nullopt;
    const auto count = static_cast<std::size_t>(symbol->width) * static_cast<std::size_t>(symbol->width);
    std::vector<std::uint8_t> modules(count);
    // Bit 0 of each byte is the module's colour; the other bits describe
    // its role in the symbol.
    for (std::size_t i = 0; i < count; ++i)
        modules[i] = symbol->data[i] & 1;
    return QRCode(symbol->width, std::move(modules));
}

} // namespace ferlow
