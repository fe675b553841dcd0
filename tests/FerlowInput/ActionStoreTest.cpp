#include "FerlowInput/ActionStore.h"

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;

ActionButton own(const char* id) { return {id, "Mine", ActionKind::key(1, 0x100000), std::nullopt, false, "More"}; }

std::string oldButton(const char* id)
{
    return R"({"id": ")" + std::string(id) + R"(", "title": "T", "kind": {"key": {"code": 1, "modifiers": 0}}, "keep": false})";
}

class ActionStoreTest : public testing::Test {
protected:
    test::TemporaryDirectory folder;
    ActionStore store {folder.path()};
};

TEST_F(ActionStoreTest, LoadFallsBackMigratesOrKeepsWhatTheFileSays)
{
    struct Case {
        const char* what;
        std::optional<std::string> file;
        std::vector<ActionButton> expected;
    };
    auto migrated = ActionStore::defaults();
    migrated.push_back({"mine", "T", ActionKind::key(1, 0), std::nullopt, false, "More"});
    const Case cases[] = {
        {"missing", std::nullopt, ActionStore::defaults()},
        {"empty file", "", ActionStore::defaults()},
        {"not JSON", "[{", ActionStore::defaults()},
        {"not an array", "{}", ActionStore::defaults()},
        {"one element without keep",
            R"([{"id": "a", "title": "A", "kind": {"appSwitcher": {}}, "group": "More"}])", ActionStore::defaults()},
        {"user removed every button", "[]", {}},
        {"old copies of built-in buttons only", "[" + oldButton("esc") + "," + oldButton("copy") + "]",
            ActionStore::defaults()},
        {"old file with an own button", "[" + oldButton("esc") + "," + oldButton("mine") + "]", migrated},
        {"current format as it is",
            R"([{"id": "esc", "title": "Own Esc", "kind": {"key": {"code": 53, "modifiers": 0}}, "keep": true}, )"
                R"({"id": "x", "title": "X", "kind": {"mouse": {"button": 7}}, "keep": false, "group": "More"}])",
            {{"esc", "Own Esc", ActionKind::key(53, 0), std::nullopt, true, std::nullopt},
                {"x", "X", ActionKind::mouse(7), std::nullopt, false, "More"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(store.url());
        if (c.file)
            test::writeFile(store.url(), *c.file);
        EXPECT_EQ(store.load(), c.expected);
    }
}

// Private modes, atomic writes and nested folders are the one private-file
// policy the pairing store's tests show.
TEST_F(ActionStoreTest, SaveWritesSortedPrettyJsonThatLoadsBack)
{
    const std::vector<ActionButton> buttons {own("one"), {"two", "Two", ActionKind::gesture(SystemGesture::apps), "Reserved", true, "Windows"}};
    store.save(buttons);
    const std::string start = "[\n  {\n    \"group\": \"More\",\n    \"id\": \"one\",\n    \"keep\": false,\n"
                              "    \"kind\": {\n      \"key\": {\n        \"code\": 1,\n        \"modifiers\": 1048576\n"
                              "      }\n    },\n    \"title\": \"Mine\"\n  },\n  {\n    \"conflict\": \"Reserved\",\n";
    EXPECT_EQ(test::readFile(store.url()).substr(0, start.size()), start);
    EXPECT_EQ(store.load(), buttons);

    test::writeFile(folder.path() / "file", "");
    EXPECT_THROW(ActionStore(folder.path() / "file").save(buttons), fs::filesystem_error);
}

// A file that reads as JSON but not as buttons is kept aside before the
// first save, as the pairing store keeps its own; an empty one holds nothing.
TEST_F(ActionStoreTest, AnUndecodableFileIsKeptAsideBeforeTheFirstSave)
{
    const std::string damaged = R"([{"id": "mine", "title": "Mine", "kind": {"key": {"code": 1}}, "keep": false}])";
    test::writeFile(store.url(), damaged);
    EXPECT_EQ(store.load(), ActionStore::defaults());
    store.save({own("new")});
    EXPECT_EQ(test::readFile(fs::path(store.url()) += ".unreadable"), damaged);
    test::writeFile(store.url(), "");
    store.load();
    store.save({});
    EXPECT_FALSE(fs::exists(fs::path(store.url()) += ".unreadable-2"));
}

} // namespace
} // namespace ferlow
