#include "storage/LocalFolderDestination.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "support/TempFolder.h"
#include "support/Unprivileged.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Preparation = LocalFolderDestination::Preparation;
using Interruption = LocalFolderDestination::WriteInterruption;

std::vector<std::string> tree(const fs::path& root) {
    std::vector<std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root)) out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

class LocalFolderTest : public ::testing::Test {
protected:
    std::shared_ptr<LocalFolderDestination> make(Preparation p = Preparation::preparing(),
                                                 std::optional<Interruption> interruption = std::nullopt) {
        return std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), root,
                                                        interruption, std::move(p));
    }
    void write(Destination& d, const RepoPath& path, std::string_view text) {
        auto w = d.openWrite(path);
        w->write(viewOf(text));
        w->commit();
    }
    test::TempFolder folder{"wm-local"};
    fs::path root = folder / "repo";
};

TEST_F(LocalFolderTest, PreparingMakesTheFoldersAndClearsLeftoversInTmpReadingOnlyTouchesNothing) {
    auto reader = make(Preparation::readingOnly());
    EXPECT_FALSE(fs::exists(root));
    EXPECT_EQ(reader->availability(), Availability::notMounted(std::nullopt));
    folder.writeFile("repo/tmp/leftover", "debris");
    folder.writeFile("repo/tmp/dir/nested", "debris");
    folder.writeFile("repo/keep", "kept");
    EXPECT_TRUE(make(Preparation::readingOnly())->availability().isAvailable());
    EXPECT_EQ(tree(root).size(), 5u);
    make(Preparation::preparing({RepoPath() / "packs", RepoPath() / "refs"}));
    EXPECT_EQ(tree(root), (std::vector<std::string>{"keep", "packs", "refs", "tmp"}));
}

// Clearing leftovers deletes whole trees: a "tmp" that is a link to a folder elsewhere must
// not have that folder's contents deleted.
TEST_F(LocalFolderTest, PreparingNeverClearsAFolderReachedThroughALink) {
    folder.writeFile("elsewhere/precious", "keep me");
    fs::create_directories(root);
    fs::create_directory_symlink(folder / "elsewhere", root / "tmp");
    EXPECT_THROW(make(), DestinationError);
    EXPECT_EQ(stringOf(folder.readFile("elsewhere/precious")), "keep me");
    fs::remove_all(root);
    folder.writeFile("repo", "a file where the folder should be");
    EXPECT_THROW(make(), DestinationError);
}

TEST_F(LocalFolderTest, InterruptedCommitsLeaveTheOldObjectOrTheWholeNewOne) {
    const RepoPath path = RepoPath() / "refs" / "head";
    struct Row {
        Interruption::Stage stage;
        const char* visibleAfter;
        std::size_t debris;
    };
    const std::vector<Row> rows = {
        {Interruption::Stage::beforeDataSync, "old", 1},
        {Interruption::Stage::beforeRename, "old", 1},
        {Interruption::Stage::beforeFolderSync, "new", 0},
    };
    for (const auto& row : rows) {
        fs::remove_all(root);
        auto d = make(Preparation::preparing(), Interruption{row.stage, 1});
        write(*d, path, "old");  // the first commit goes through
        auto w = d->openWrite(path);
        w->write(viewOf("new"));
        try {
            w->commit();
            ADD_FAILURE() << "not interrupted";
        } catch (const DestinationError& e) {
            EXPECT_EQ(e.kind, DestinationError::Kind::interrupted);
        }
        EXPECT_EQ(stringOf(d->read(path)), row.visibleAfter);
        EXPECT_EQ(d->list(RepoPath() / "tmp").size(), row.debris);
        EXPECT_THROW(w->commit(), DestinationError);  // the writer is finished
        w->cancel();                                  // and cancel clears its debris
        EXPECT_TRUE(d->list(RepoPath() / "tmp").empty());
        write(*d, path, "later");  // later commits are not interrupted
        EXPECT_EQ(stringOf(d->read(path)), "later");
    }
}

// A write cut short by the volume (here the file-size limit, as a full disk would) leaves a
// shortened pending file: the writer is finished, and a later commit fails instead of
// putting the shortened object in place.
TEST_F(LocalFolderTest, AFailedWriteFinishesTheWriter) {
    auto d = make();
    const RepoPath path = RepoPath() / "packs" / "ab" / "ab.pack";
    write(*d, path, "old");
    auto w = d->openWrite(path);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_THROW(w->write(viewOf(std::string(8192, 'x'))), DestinationError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_THROW(w->write(viewOf("more")), DestinationError);
    EXPECT_THROW(w->commit(), DestinationError);
    EXPECT_EQ(stringOf(d->read(path)), "old");
    w->cancel();
    EXPECT_TRUE(tree(root / "tmp").empty());
}

// A backup drive may hold a named pipe where a file should be: reading it is an error at
// once, never a wait for a writer that does not come.
TEST_F(LocalFolderTest, ANamedPipeIsNotReadAsAnObject) {
    auto d = make();
    fs::create_directories(root / "index");
    ASSERT_EQ(::mkfifo((root / "index" / "a.idx").c_str(), 0644), 0);
    ::chmod(folder.path().c_str(), 0755);
    const RepoPath path = RepoPath() / "index" / "a.idx";
    EXPECT_EQ(d->size(path), std::nullopt);
    test::expectUnprivileged([&](const auto&) {
        ::alarm(5);  // a blocked open ends the child with SIGALRM
        int refused = 0;
        try {
            d->read(path);
        } catch (const DestinationError&) {
            ++refused;
        }
        std::uint8_t byte;
        try {
            d->readInto(path, 0, {&byte, 1});
        } catch (const DestinationError&) {
            ++refused;
        }
        return 2 - refused;
    });
}

TEST_F(LocalFolderTest, OverlongNamesAndFilesInThePlaceOfFolders) {
    auto d = make();
    const RepoPath overlong = RepoPath() / "packs" / std::string(300, 'x');
    for (const std::function<void()>& call : std::vector<std::function<void()>>{
             [&] { write(*d, overlong, "x"); }, [&] { d->read(overlong); }}) {
        try {
            call();
            ADD_FAILURE();
        } catch (const DestinationError& e) {
            EXPECT_EQ(e.kind, DestinationError::Kind::pathTooLong);
            EXPECT_EQ(e.limit, 255);
        }
    }
    write(*d, RepoPath() / "gc", "not a folder");
    EXPECT_THROW(d->openWrite(RepoPath() / "gc" / "ab" / "x.pack"), DestinationError);
    EXPECT_FALSE(d->exists(RepoPath() / "gc" / "ab"));
    EXPECT_THROW(d->read(RepoPath() / "gc" / "ab"), DestinationError);
    EXPECT_THROW(d->read(RepoPath() / "tmp"), DestinationError);  // a folder is not readable
    d->remove(RepoPath() / "gc" / "ab");                        // nothing there: removed
    EXPECT_GT(d->freeSpace().value_or(0), 0);
}

TEST_F(LocalFolderTest, PermissionFailuresWithoutPrivileges) {
    auto d = make(Preparation::preparing({RepoPath() / "keys"}));
    write(*d, RepoPath() / "keys" / "k.key", "key");
    write(*d, RepoPath() / "keys" / "secret.key", "secret");
    ::chmod((root / "keys" / "secret.key").c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    test::expectUnprivileged([&](const auto& report) {
        int failures = 0;
        auto expectKind = [&](const char* what, const std::function<void()>& call) {
            try {
                call();
                report(std::string(what) + ": no error");
                ++failures;
            } catch (const DestinationError& e) {
                if (e.kind != DestinationError::Kind::permissionDenied) {
                    report(std::string(what) + ": " + e.what());
                    ++failures;
                }
            }
        };
        expectKind("write", [&] { d->openWrite(RepoPath() / "keys" / "new.key"); });
        expectKind("read", [&] { d->read(RepoPath() / "keys" / "secret.key"); });
        expectKind("remove", [&] { d->remove(RepoPath() / "keys" / "k.key"); });
        if (stringOf(d->read(RepoPath() / "keys" / "k.key")) != "key") {
            report("readable file not read");
            ++failures;
        }
        return failures;
    });
    EXPECT_TRUE(fs::exists(root / "keys" / "k.key"));

    ::chmod(root.c_str(), 0);
    test::expectUnprivileged([&](const auto& report) {
        auto a = d->availability();
        if (a.case_ == Availability::Case::permissionRequired) return 0;
        report(a.description());
        return 1;
    });
    ::chmod(root.c_str(), 0755);
}

}  // namespace
}  // namespace wm
