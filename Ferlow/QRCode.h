#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferlow {

// A QR code symbol as a square grid of modules, made by libqrencode.
// Drawing is left to the caller: the terminal, or a window that scales each
// module to whole pixels without smoothing.
class QRCode final {
public:
    // ISO/IEC 18004 error correction: about 7 % (L) or 15 % (M) of the
    // symbol may be lost.
    enum class Correction { low, medium };

    // The smallest symbol that holds `text`; absent when it is too long
    // for any symbol or the encoder fails.
    static std::optional<QRCode> encode(std::string_view text, Correction correction = Correction::medium);

    // Modules per side, without the quiet zone.
    int size() const { return m_size; }
    // Whether the module at column x, row y is dark; outside the grid, light.
    bool dark(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= m_size || y >= m_size)
            return false;
        return m_modules[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_size) + static_cast<std::size_t>(x)] != 0;
    }

private:
    QRCode(int size, std::vector<std::uint8_t> modules) : m_size(size), m_modules(std::move(modules)) { }

    int m_size;
    std::vector<std::uint8_t> m_modules; // row by row, 1 = dark
};

} // namespace ferlow
