#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "FerlowCore/ActionButton.h"
#include "FerlowCore/PrivateFile.h"

namespace ferlow {

// The user's action buttons, kept as a pretty-printed JSON array (keys
// sorted) in `directory`/actions.json, a PrivateFile: folder 0700, file 0600,
// written atomically. Used from one thread at a time.
//
// Files written before buttons had pages are migrated on load: the user's
// own buttons follow the built-in ones on the "More" page. A file that
// exists but cannot be read or decoded loads as the defaults and is moved
// aside (actions.json.unreadable) by the first save.
class ActionStore final {
public:
    // Remembers where the file lives; touches nothing on disk.
    explicit ActionStore(const std::filesystem::path& directory);

    const std::filesystem::path& url() const { return m_file.path(); }

    // Never fails: a missing or unusable file gives the defaults; a file
    // holding [] gives an empty list.
    std::vector<ActionButton> load();

    // Writes the whole list. Throws std::filesystem::filesystem_error (the
    // file keeps its previous content) or EncodingError (a title that is not
    // valid UTF-8).
    void save(const std::vector<ActionButton>& buttons);

    // An unusable file found by load(), moved aside now (PrivateFile).
    std::optional<KeptAside> keepUnreadableAside() { return m_file.keepUnreadableAside(); }

    // The 34 buttons a new installation starts with, on the pages "Keys",
    // "Edit", "Windows" and "Media".
    static const std::vector<ActionButton>& defaults();

private:
    PrivateFile m_file;
};

} // namespace ferlow
