// Range headers come from any peer. Whatever parseRange selects lies within
// the file, every number it used was written as one optionally signed
// decimal integer, and the selection reads back the same when written plainly.
#include <limits>

#include "FerlowServer/StaticFiles.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

namespace {

bool decimalInteger(std::string_view text)
{
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    std::int64_t fileSize = 0;
    switch (input.byte() % 4) {
    case 0: fileSize = 0; break;
    case 1: fileSize = std::numeric_limits<std::int64_t>::max(); break;
    default: fileSize = input.byte() * 256 + input.byte(); break;
    }
    const std::string_view header = asText(input.rest());
    const auto range = StaticFiles::parseRange(header, fileSize);
    if (!range)
        return 0;

    const auto [first, last] = *range;
    require(header.starts_with("bytes=") && header.find(',') == std::string_view::npos, "one byte range");
    require(first >= 0 && last <= fileSize - 1, "the selection starts at a byte and ends within the file");
    const auto rangeSet = header.substr(6);
    const auto dash = rangeSet.find('-');
    const auto firstText = rangeSet.substr(0, dash);
    const auto lastText = rangeSet.substr(dash + 1);
    require(firstText.empty() || decimalInteger(firstText), "a first position is one decimal integer");
    require(lastText.empty() || decimalInteger(lastText), "a last position is one decimal integer");
    if (firstText.empty())
        require(last == fileSize - 1, "a suffix range ends at the end");
    else
        require(last >= 0, "a range from a position selects a byte");
    if (first <= last) {
        const auto again = StaticFiles::parseRange("bytes=" + std::to_string(first) + "-" + std::to_string(last), fileSize);
        require(again == range, "a selection written plainly reads back the same");
    }
    return 0;
}
