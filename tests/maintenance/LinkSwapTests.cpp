// Nothing is written or deleted through a link: a folder of the repository swapped for a link
// to a copy of it, just before each write or removal of a backup, a sweep, a repair and a
// replication into a user's folder, stops the run with the link named, and nothing changes
// where the link leads, nor among the user's own files.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

#include "ToolFailure.h"
#include "engine/RetentionRecord.h"
#include "format/RepositoryLayout.h"
#include "maintenance/Pruner.h"
#include "maintenance/Replicator.h"
#include "storage/LocalFolderDestination.h"
#include "support/EngineTestSupport.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;
using Mutation = FaultyDestination::Operation;

Date day(int n) { return fixedNow().adding(86400.0 * n); }

std::shared_ptr<LocalFolderDestination> folderAt(const fs::path& root) {
    return std::make_shared<LocalFolderDestination>(
        DestinationID::random(), DestinationKind::localFolder(), root, std::nullopt,
        LocalFolderDestination::Preparation::preparing(RepositoryLayout::requiredDirectories()));
}

// Every file under a folder with its bytes.
std::map<std::string, std::string> filesIn(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] =
                std::string(std::istreambuf_iterator<char>(std::ifstream(entry.path()).rdbuf()), {});
    return files;
}

// Three snapshots a day apart, marked on the fourth day to keep the newest, with a copy of it
// beside.
void makeRepository(const fs::path& root, const fs::path& copy, const RepositoryKeys& keys) {
    const auto repository = createRepository(folderAt(root), keys);
    for (int i = 0; i < 3; ++i)
        commitFile(*repository, {randomBytes(3000, 10 + i)}, "file" + std::to_string(i), day(i));
    Pruner().mark(*repository, RetentionPolicy::lastN(1), {}, day(3));
    fs::copy(root, copy, fs::copy_options::recursive);
}

// A user's folder chosen for a copy: files of its own, read-me files of its own, and a "tmp"
// with files (one named as a pending write is) and empty folders.
const std::vector<const char*> usersFiles = {"notes.txt", "Read Me First.txt", "Repository Format.md", "tmp/draft",
                                             "tmp/0123456789abcdef0123456789abcdef"};

void makeUsersFolder(const fs::path& root) {
    for (const char* folder : {"tmp/empty", "tmp/fedcba9876543210fedcba9876543210"})
        fs::create_directories(root / folder);
    for (const char* file : usersFiles) std::ofstream(root / file) << "mine: " << file;
}

void expectUsersFolderKept(const fs::path& root, const std::string& context) {
    for (const char* folder : {"tmp/empty", "tmp/fedcba9876543210fedcba9876543210"})
        EXPECT_TRUE(fs::is_directory(root / folder)) << context << ": " << folder;
    const auto files = filesIn(root);
    for (const char* file : usersFiles) {
        const auto it = files.find(file);
        EXPECT_TRUE(it != files.end() && it->second == std::string("mine: ") + file) << context << ": " << file;
    }
}

void damagePacks(const fs::path& root) {
    for (const auto& entry : fs::recursive_directory_iterator(root / "packs"))
        if (entry.is_regular_file()) fs::resize_file(entry.path(), 100);
}

// Opens the repository behind the destination (writing nothing) and gives the run; the
// copy's folder is there for a repair.
using StartRun = std::function<std::function<void()>(const std::shared_ptr<FaultyDestination>&, const fs::path& copy)>;

TEST(LinkSwap, NoWriteOrRemovalOfABackupASweepOrARepairGoesThroughALink) {
    const RepositoryKeys keys = makeKeys();
    struct Scenario {
        std::string name;
        bool damaged;
        StartRun run;
        bool intoUsersFolder = false;  // the destination is a user's folder a copy is made into
    };
    const std::vector<Scenario> scenarios = {
        {"backup", false,
         [&](const std::shared_ptr<FaultyDestination>& d, const fs::path&) -> std::function<void()> {
             auto repository = openRepository(d, keys).repository;
             return [repository] { commitFile(*repository, {randomBytes(5000, 50)}, "new", day(4)); };
         }},
        {"sweep", false,
         [&](const std::shared_ptr<FaultyDestination>& d, const fs::path&) -> std::function<void()> {
             auto repository = openRepository(d, keys).repository;
             return [repository] { Pruner().sweep(*repository, RetentionRecord::keepEverything(), {}, day(11)); };
         }},
        {"repair", true,
         [&](const std::shared_ptr<FaultyDestination>& d, const fs::path& copy) -> std::function<void()> {
             auto repository = openRepository(d, keys).repository;
             auto from = std::make_shared<LocalFolderDestination>(DestinationID::random(),
                                                                  DestinationKind::localFolder(), copy, std::nullopt,
                                                                  LocalFolderDestination::Preparation::readingOnly());
             return [&keys, repository, from, d] {
                 const auto plan = Replicator::planRepair(*repository, *from, keys);
                 auto fetched = Replicator().repair(plan.packs, *from, *d, keys).repaired;
                 ASSERT_FALSE(fetched.empty());
                 fetched.insert(fetched.end(), plan.indexAgain.begin(), plan.indexAgain.end());
                 Replicator::indexAgain(*repository, fetched);
             };
         }},
        {"replicate", false,
         [&](const std::shared_ptr<FaultyDestination>& d, const fs::path& copy) -> std::function<void()> {
             std::shared_ptr<Repository> source =
                 openRepository(folderAt(copy), keys, Repository::Access::readOnly).repository;
             return [&keys, source, d] { Replicator().replicate(*source, *d, keys); };
         },
         true},
    };
    for (const auto& [name, damaged, run, intoUsersFolder] : scenarios) {
        TempFolder t;
        makeRepository(t / "made", t / "copy", keys);
        const auto prepared = [&](const fs::path& root) {
            if (intoUsersFolder) {
                makeUsersFolder(root);
                return std::make_shared<FaultyDestination>(std::make_shared<LocalFolderDestination>(
                    DestinationID::random(), DestinationKind::localFolder(), root, std::nullopt,
                    LocalFolderDestination::Preparation::readingOnly(), LocalFolderDestination::Reads::refusingLinks));
            }
            fs::copy(t / "made", root, fs::copy_options::recursive);
            if (damaged) damagePacks(root);
            return std::make_shared<FaultyDestination>(folderAt(root));
        };
        // Which mutating calls write or remove an object below a folder of the repository, and
        // the folder swapped: the object's own when it is there before the run, else the
        // top one (a new pack is named anew by every run, and a user's folder has none of them).
        std::vector<std::pair<std::int64_t, RepoPath>> steps;
        {
            const auto faulty = prepared(t / "plain");
            const auto body = run(faulty, t / "copy");
            faulty->clearLog();
            body();
            std::int64_t n = 0;
            for (const auto& call : faulty->calls()) {
                const bool mutating = call.operation == Mutation::openWrite || call.operation == Mutation::write ||
                                      call.operation == Mutation::commit || call.operation == Mutation::remove;
                if (mutating) ++n;
                if ((call.operation == Mutation::openWrite || call.operation == Mutation::remove) &&
                    call.path.depth() > 1) {
                    const bool named = !intoUsersFolder && fs::exists(t / "made" / call.path.string());
                    steps.emplace_back(n, named ? call.path.parent() : RepoPath() / call.path.components()[0]);
                }
            }
            if (intoUsersFolder) expectUsersFolderKept(t / "plain", name);
        }
        ASSERT_GE(steps.size(), 3u) << name;
        for (std::size_t k = 0; k < steps.size(); ++k) {
            const auto& [n, folder] = steps[k];
            const std::string context = name + " at step " + std::to_string(n) + " in " + folder.string();
            const fs::path root = t / ("run" + std::to_string(k)), elsewhere = t / ("elsewhere" + std::to_string(k));
            const auto faulty = prepared(root);
            const auto body = run(faulty, t / "copy");
            std::map<std::string, std::string> linked;
            faulty->pauseAtMutation(n, [&] {
                if (!fs::exists(root / folder.string())) fs::create_directory(root / folder.string());
                fs::copy(root / folder.string(), elsewhere, fs::copy_options::recursive);
                fs::rename(root / folder.string(), t / ("aside" + std::to_string(k)));
                fs::create_directory_symlink(elsewhere, root / folder.string());
                linked = filesIn(elsewhere);
            });
            std::optional<DestinationError> thrownError;
            try {
                body();
            } catch (const DestinationError& e) {
                thrownError = e;
            }
            ASSERT_TRUE(thrownError) << context;
            const DestinationError& error = *thrownError;
            EXPECT_TRUE(LocalFolderDestination::isLinkRefusal(error)) << context << ": " << error.what();
            EXPECT_EQ(error.path, folder) << context;
            EXPECT_EQ(filesIn(elsewhere), linked) << context;
            EXPECT_EQ(tools::failureSentence(error),
                      "The backup's \"" + folder.string() +
                          "\" is a link to another place, so nothing was written or deleted through it. Put the "
                          "backup's own folder back, and run this again.")
                << context;
            if (intoUsersFolder) expectUsersFolderKept(root, context);
        }
    }
}

}  // namespace
}  // namespace wm::test
