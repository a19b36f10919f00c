#include "storage/LocalFolderDestination.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

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

TEST_F(LocalFolderTest, PreparingMakesTheFoldersAndClearsLeftoversInTmp) {
    folder.writeFile("repo/tmp/leftover", "debris");
    folder.writeFile("repo/tmp/dir/nested", "debris");
    folder.writeFile("repo/keep", "kept");
    auto d = make(Preparation::preparing({RepoPath() / "packs", RepoPath() / "refs"}));
    EXPECT_EQ(tree(root), (std::vector<std::string>{"keep", "packs", "refs", "tmp"}));
    EXPECT_EQ(d->temporaryFolder(), root / "tmp");
    EXPECT_EQ(d->url(RepoPath() / "packs" / "ab"), root / "packs" / "ab");
}

TEST_F(LocalFolderTest, ReadingOnlyTouchesNothing) {
    auto d = make(Preparation::readingOnly());
    EXPECT_FALSE(fs::exists(root));
    EXPECT_EQ(d->availability(), Availability::notMounted(std::nullopt));
    fs::create_directories(root / "tmp");
    folder.writeFile("repo/tmp/leftover", "debris");
    auto again = make(Preparation::readingOnly());
    EXPECT_EQ(tree(root), (std::vector<std::string>{"tmp", "tmp/leftover"}));
    EXPECT_TRUE(again->availability().isAvailable());
    EXPECT_EQ(again->kind(), DestinationKind::localFolder());
    EXPECT_FALSE(again->capabilities().remoteVerification);
}

// Clearing leftovers deletes whole trees: a "tmp" that is a link to a folder elsewhere must
// not have that folder's contents deleted.
TEST_F(LocalFolderTest, PreparingNeverClearsAFolderReachedThroughALink) {
    folder.writeFile("elsewhere/precious", "keep me");
    fs::create_directories(root);
    fs::create_directory_symlink(folder / "elsewhere", root / "tmp");
    EXPECT_THROW(make(), DestinationError);
    EXPECT_EQ(stringOf(folder.readFile("elsewhere/precious")), "keep me");
}

TEST_F(LocalFolderTest, PreparingFailsWithADestinationError) {
    folder.writeFile("repo", "a file where the folder should be");
    EXPECT_THROW(make(), DestinationError);
}

TEST_F(LocalFolderTest, CommitOnlyThenTheFileIsThereAndTmpIsEmpty) {
    auto d = make();
    const RepoPath path = RepoPath() / "index" / "abc.idx";
    auto w = d->openWrite(path);
    w->write(viewOf("index bytes"));
    // The pending bytes sit in tmp; the final folder exists already, the file does not.
    EXPECT_TRUE(fs::is_directory(root / "index"));
    EXPECT_FALSE(fs::exists(root / "index" / "abc.idx"));
    EXPECT_EQ(tree(root / "tmp").size(), 1u);
    w->commit();
    EXPECT_EQ(stringOf(folder.readFile("repo/index/abc.idx")), "index bytes");
    EXPECT_TRUE(tree(root / "tmp").empty());
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
        // Later commits are not interrupted.
        write(*d, path, "later");
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
    {
        struct Limit {
            rlimit saved{};
            void (*handler)(int) = nullptr;
            Limit() {
                ::getrlimit(RLIMIT_FSIZE, &saved);
                rlimit small = saved;
                small.rlim_cur = 4096;
                ::setrlimit(RLIMIT_FSIZE, &small);
                handler = std::signal(SIGXFSZ, SIG_IGN);
            }
            ~Limit() {
                ::setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, handler);
            }
        } limit;
        const std::string big(8192, 'x');
        EXPECT_THROW(w->write(viewOf(big)), DestinationError);
    }
    EXPECT_THROW(w->write(viewOf("more")), DestinationError);
    EXPECT_THROW(w->commit(), DestinationError);
    EXPECT_EQ(stringOf(d->read(path)), "old");
    w->cancel();
    EXPECT_TRUE(tree(root / "tmp").empty());
}

// A backup drive may hold a named pipe or a device where a file should be: reading it is
// an error at once, never a wait for a writer that does not come.
TEST_F(LocalFolderTest, ANamedPipeIsNotReadAsAnObject) {
    auto d = make();
    fs::create_directories(root / "index");
    ASSERT_EQ(::mkfifo((root / "index" / "a.idx").c_str(), 0644), 0);
    const RepoPath path = RepoPath() / "index" / "a.idx";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
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
        ::_exit(refused == 2 ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the read blocked";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(d->size(path), std::nullopt);
}

TEST_F(LocalFolderTest, ListingIsInDirectoryOrderAndSkipsDotEntries) {
    auto d = make();
    for (int i = 0; i < 30; ++i) folder.writeFile("repo/snapshots/s" + std::to_string(i), "x");
    auto listed = d->list(RepoPath() / "snapshots");
    ASSERT_EQ(listed.size(), 30u);
    for (const auto& p : listed) EXPECT_NE(p.fileName().front(), '.');
    // The root lists too.
    auto top = d->list(RepoPath());
    EXPECT_EQ(top.size(), 2u);  // snapshots, tmp
}

TEST_F(LocalFolderTest, OverlongNamesArePathTooLong) {
    auto d = make();
    const RepoPath path = RepoPath() / "packs" / std::string(300, 'x');
    try {
        write(*d, path, "x");
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::pathTooLong);
        EXPECT_EQ(e.limit, 255);
    }
    EXPECT_FALSE(d->exists(RepoPath() / "packs" / std::string(200, 'y')));
    try {
        d->read(path);
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::pathTooLong);
    }
}

TEST_F(LocalFolderTest, AFileInThePlaceOfAFolder) {
    auto d = make();
    write(*d, RepoPath() / "packs", "not a folder");
    EXPECT_THROW(d->openWrite(RepoPath() / "packs" / "ab" / "x.pack"), DestinationError);
    EXPECT_FALSE(d->exists(RepoPath() / "packs" / "ab"));
    EXPECT_EQ(d->size(RepoPath() / "packs" / "ab"), std::nullopt);
    EXPECT_THROW(d->read(RepoPath() / "packs" / "ab"), DestinationError);
    EXPECT_THROW(d->read(RepoPath() / "tmp"), DestinationError);  // a folder is not readable
    d->remove(RepoPath() / "packs" / "ab");                        // nothing there: removed
}

TEST_F(LocalFolderTest, ReportsFreeSpace) {
    auto d = make();
    auto free = d->freeSpace();
    ASSERT_TRUE(free);
    EXPECT_GT(*free, 0);
}

TEST_F(LocalFolderTest, PermissionFailuresWithoutPrivileges) {
    auto d = make(Preparation::preparing({RepoPath() / "keys"}));
    write(*d, RepoPath() / "keys" / "k.key", "key");
    write(*d, RepoPath() / "keys" / "secret.key", "secret");
    ::chmod((root / "keys" / "secret.key").c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    auto outcome = test::runUnprivileged([&](const auto& report) {
        int failures = 0;
        auto expectKind = [&](const char* what, DestinationError::Kind kind, const std::function<void()>& call) {
            try {
                call();
                report(std::string(what) + ": no error");
                ++failures;
            } catch (const DestinationError& e) {
                if (e.kind != kind) {
                    report(std::string(what) + ": " + e.what());
                    ++failures;
                }
            }
        };
        expectKind("write", DestinationError::Kind::permissionDenied,
                   [&] { d->openWrite(RepoPath() / "keys" / "new.key"); });
        expectKind("read", DestinationError::Kind::permissionDenied,
                   [&] { d->read(RepoPath() / "keys" / "secret.key"); });
        expectKind("remove", DestinationError::Kind::permissionDenied,
                   [&] { d->remove(RepoPath() / "keys" / "k.key"); });
        if (stringOf(d->read(RepoPath() / "keys" / "k.key")) != "key") {
            report("readable file not read");
            ++failures;
        }
        return failures;
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_TRUE(fs::exists(root / "keys" / "k.key"));
}

TEST_F(LocalFolderTest, AvailabilityOfAFolderThatCannotBeEntered) {
    auto d = make();
    ::chmod(root.c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    auto outcome = test::runUnprivileged([&](const auto& report) {
        auto a = d->availability();
        if (a.case_ != Availability::Case::permissionRequired) {
            report(a.description());
            return 1;
        }
        return 0;
    });
    ::chmod(root.c_str(), 0755);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
}

}  // namespace
}  // namespace wm
