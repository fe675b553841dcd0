#include "FerlowCore/PairingStore.h"

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/Base64URL.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

struct PairingStoreTest : ::testing::Test {
    test::TemporaryDirectory temporary;
    fs::path directory = temporary.path() / "support" / "Ferlow";
    fs::path file = directory / "pairings.json";
    double now = 1'700'000'000.25;

    std::unique_ptr<PairingStore> open() { return std::make_unique<PairingStore>(directory, [this] { return now; }); }
};

TEST_F(PairingStoreTest, FreshPairingsAreSavedPendingAndReadBack)
{
    auto store = open();
    const Pairing pairing = store->createPending();
    EXPECT_EQ(pairing.secret.size(), 32u); // the id's form is the process tests' ("--list")
    EXPECT_EQ(pairing.name, "New phone");
    EXPECT_NE(store->createPending().id, pairing.id);

    const std::string text = readFile(file);
    const auto saved = nlohmann::json::parse(text);
    EXPECT_EQ(saved[0]["secret"], Base64::encode(pairing.secret));
    EXPECT_EQ(saved[0]["createdAt"], now);
    EXPECT_FALSE(saved[0].contains("lastUsedAt")); // not null: absent
    EXPECT_EQ(open()->all(), store->all());
    EXPECT_EQ(test::fileMode(temporary.path() / "support"), 0700u); // folders the store makes are private too
}

TEST_F(PairingStoreTest, PendingPairingsExpireAfterTenMinutesButUsedOnesNever)
{
    auto store = open();
    const auto pending = store->createPending();
    const auto used = store->createPending();
    store->markUsed(used.id, "Pixel 8");
    const double usedAt = now;

    now += 600;
    EXPECT_TRUE(store->lookup(pending.id));
    now += 0.001;
    EXPECT_FALSE(store->lookup(pending.id));
    EXPECT_EQ(readFile(file).find(pending.id), std::string::npos);

    now += 10 * 365 * 86400.0;
    const auto found = store->lookup(used.id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Pixel 8");
    EXPECT_EQ(found->lastUsedAt, usedAt);
}

TEST_F(PairingStoreTest, MarkUsedAndRemove)
{
    auto store = open();
    const auto a = store->createPending();
    const auto b = store->createPending();
    now += 5;
    store->markUsed(b.id, "Ana’s phone");
    EXPECT_EQ(nlohmann::json::parse(readFile(file))[1]["lastUsedAt"], now);

    // An unknown id writes nothing; lookups are exact; removal keeps order.
    fs::remove(file);
    store->markUsed("nope", "x");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(store->lookup(a.id.substr(0, 10)));
    store->remove(a.id);
    ASSERT_EQ(open()->all().size(), 1u);
    EXPECT_EQ(open()->all()[0].name, "Ana’s phone");
}

TEST_F(PairingStoreTest, FileAndFolderAreOwnerOnlyEvenIfTheyWereWider)
{
    writeFile(file, "[]");
    fs::permissions(directory, fs::perms::all);
    fs::permissions(file, fs::perms::all);
    open()->createPending();
    EXPECT_EQ(test::fileMode(directory), 0700u);
    EXPECT_EQ(test::fileMode(file), 0600u);
}

// A file that cannot be understood loads as an empty store, but is kept aside
// before the next save so the user's phones are not silently destroyed.
TEST_F(PairingStoreTest, UnreadableFilesAreKeptAsideBeforeTheFirstSave)
{
    for (const char* damaged : {"{\"not\":\"an array\"}", "[{\"id\":\"abc\",\"secret\":\"AAAA\",\"name\":\"x\"}]",
             "[{\"id\":\"abc\",\"secret\":\"***\",\"name\":\"x\",\"createdAt\":1}]"}) {
        SCOPED_TRACE(damaged);
        fs::remove_all(directory);
        writeFile(file, damaged);
        auto store = open();
        EXPECT_TRUE(store->all().empty());
        const auto pairing = store->createPending();
        EXPECT_EQ(readFile(directory / "pairings.json.unreadable"), damaged);
        EXPECT_EQ(open()->all(), std::vector {pairing});
    }
    // A second damaged file does not replace the first one kept aside.
    writeFile(file, "garbage");
    open()->createPending();
    EXPECT_EQ(readFile(directory / "pairings.json.unreadable-2"), "garbage");

    // Unknown extra keys are no damage.
    writeFile(file, R"([{"id":"abcdefghijk","secret":"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=","name":"n","createdAt":5,"lastUsedAt":6,"color":"red"}])");
    EXPECT_EQ(open()->all().size(), 1u);
}

TEST_F(PairingStoreTest, IsSafeToUseFromSeveralThreads)
{
    auto store = open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&store] {
            for (int i = 0; i < 5; ++i)
                store->markUsed(store->createPending().id, "phone");
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(open()->all().size(), 20u);
}

// A save killed midway leaves its temporary file, secrets and all, beside
// the store; loading removes it. Nothing else goes: not another store's file,
// not a link (nor what it points to), and not a file a save that is still
// running holds locked, as `ferlow --pair` may beside the app.
TEST_F(PairingStoreTest, LoadingRemovesWhatKilledSavesLeftBehind)
{
    const auto leftovers = [&] {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(directory))
            if (entry.path().filename().string().starts_with(".pairings.json."))
                found.push_back(entry.path());
        return found;
    };
    const auto id = open()->createPending().id;
    for (int attempt = 0; attempt < 1000 && leftovers().empty(); ++attempt) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(10); // never outlives a parent that stopped waiting
            PairingStore store(directory, [this] { return now; });
            for (;;)
                store.markUsed(id, "phone");
        }
        ::usleep(static_cast<useconds_t>(200 + attempt * 131 % 3000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    const auto killed = leftovers();
    ASSERT_FALSE(killed.empty());

    writeFile(temporary.path() / "outside", "keep");
    fs::create_symlink(temporary.path() / "outside", directory / ".pairings.json.LinkMe");
    writeFile(directory / ".actions.json.Abc123", "[]");
    writeFile(directory / ".pairings.json.Live12", "[");
    const int live = ::open((directory / ".pairings.json.Live12").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    EXPECT_EQ(open()->all().size(), 1u);
    for (const auto& path : killed)
        EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_TRUE(fs::is_symlink(directory / ".pairings.json.LinkMe"));
    EXPECT_EQ(readFile(temporary.path() / "outside"), "keep");
    EXPECT_TRUE(fs::exists(directory / ".actions.json.Abc123"));
    EXPECT_TRUE(fs::exists(directory / ".pairings.json.Live12"));
    ::close(live);
}

// That a phone pairs from the fragment shows in the process tests (--pair).
// The host goes in unescaped, so only plain names and dotted addresses do.
TEST(PairingURL, CarriesIdAndSecretInTheFragment)
{
    const Pairing pairing = Pairing::make(0);
    const std::string fragment = "/#" + pairing.id + "." + Base64URL::encode(pairing.secret);
    EXPECT_EQ(pairingURL("office-mac.local", 8321, pairing), "http://office-mac.local:8321" + fragment);
    EXPECT_EQ(pairingURL("192.168.1.20", 7311, pairing), "http://192.168.1.20:7311" + fragment);
    for (const std::string& host : {std::string("bad host"), std::string("evil/x#"), std::string(""),
             std::string(".local"), std::string("desk..local"), std::string("desk."), std::string("[::1]"),
             std::string("desk:80"), std::string(64, 'h') + ".local"})
        EXPECT_EQ(pairingURL(host, 7311, pairing), std::nullopt) << host;
    EXPECT_TRUE(isURLHost(std::string(63, 'h') + ".local"));
}

} // namespace
} // namespace ferlow
