#include "Ferlow/TerminalQR.h"

namespace ferlow {

std::optional<QRCode> TerminalQR::encode(std::string_view text)
{
    auto code = QRCode::encode(text);
    if (code && lines(*code) > maxLines) {
        if (auto smaller = QRCode::encode(text, QRCode::Correction::low); smaller && smaller->size() < code->size())
            return smaller;
    }
    return code;
}

int TerminalQR::lines(const QRCode& code) { return (code.size() + 2 * quietZone + 1) / 2; }

std::string TerminalQR::render(const QRCode& code, Colours colours)
{
    static constexpr const char* cells[] = {" ", "\u2584", "\u2580", "\u2588"}; // none, lower, upper, full
    const int from = -quietZone;
    const int to = code.size() + quietZone; // exclusive
    std::string text;
    for (int y = from; y < to; y += 2) {
        if (colours == Colours::forced)
            text += "\x1b[30;107m";
        for (int x = from; x < to; ++x)
            text += cells[(code.dark(x, y) ? 2 : 0) + (code.dark(x, y + 1) ? 1 : 0)];
        if (colours == Colours::forced)
            text += "\x1b[0m";
        text += '\n';
    }
    return text;
}

} // namespace ferlow
