// Request targets come from any peer. Over a root holding a few files, a
// folder, a link within it and a link out of it, every answer is 200, 206,
// 404 or 416, and whatever is served is a file inside the root (or part of
// one): never the file outside, never a folder.
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "FerlowServer/StaticFiles.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, std::string_view content)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

struct Site {
    StaticFiles files;
    std::vector<std::string> contents; // of every file inside the root
};

const Site& site()
{
    static const Site made = [] {
        const auto folder = fuzz::scratchFolder();
        const auto root = folder / "pad";
        const std::map<std::string, std::string> inside {
            {"index.html", "<html>index</html>"}, {"app.js", "let app = 1;"}, {"sub/style.css", "p { }"},
            {"sub/index.html", "<p>sub</p>"}, {"a%b c.txt", "percent and space"}, {"empty.json", ""},
        };
        Site site {StaticFiles(root), {}};
        for (const auto& [name, content] : inside) {
            writeFile(root / name, content);
            site.contents.push_back(content);
        }
        writeFile(folder / "secret", "OUTSIDE THE ROOT");
        fs::create_symlink(folder / "secret", root / "out");
        fs::create_symlink(root / "sub", root / "sublink");
        fs::create_symlink("index.html", root / "in");
        return site;
    }();
    return made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    const bool withRange = input.byte() & 1;
    const std::string target = "/" + std::string(input.line());
    const std::optional<std::string_view> range = withRange ? std::optional(asText(input.rest())) : std::nullopt;

    const auto& [files, contents] = site();
    const auto response = files.response(target, range);
    const std::string body(asText(response.body));
    switch (response.status) {
    case 200:
        require(std::find(contents.begin(), contents.end(), body) != contents.end(), "a whole file from inside the root");
        require(!response.contentRange, "a whole file has no content range");
        break;
    case 206:
        require(!body.empty() && std::any_of(contents.begin(), contents.end(),
                                     [&](const std::string& c) { return c.find(body) != std::string::npos; }),
            "a part of a file from inside the root");
        require(response.contentRange && response.contentRange->starts_with("bytes "), "a part says which");
        break;
    case 404:
        require(body == "Not found", "the one not-found answer");
        break;
    case 416:
        require(body.empty() && response.contentRange && response.contentRange->starts_with("bytes */"), "nothing selected");
        break;
    default:
        require(false, "200, 206, 404 or 416");
    }
    return 0;
}
