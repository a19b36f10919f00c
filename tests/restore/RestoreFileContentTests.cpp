#include <sys/stat.h>

#include <limits>

#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr std::uint64_t MiB = 1u << 20;
constexpr std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();
const std::string shapeFailure =
    wentWrong + "destinationNotUsable(\"the backup holds more content than this file's recorded shape\")";

class FileContentTest : public RestoreFixture {
protected:
    Result restoreOne(std::vector<BlobID> content, std::optional<std::uint64_t> size,
                      std::optional<std::vector<TreeObject::SparseRange>> holes = std::nullopt) {
        auto entry = fileEntry("f", std::move(content), size);
        entry.sparseRanges = std::move(holes);
        backup.setRoot(backup.addTree({entry}));
        return restore();
    }
    fs::path f() const { return box.target() / "f"; }
};

TEST_F(FileContentTest, BlobsFillTheDataRegionsAcrossBoundaries) {
    // 3 MiB with a hole from 1 MiB to 2 MiB; blobs of 1.5 MiB and 0.5 MiB, the first spanning the hole.
    std::string first(MiB + MiB / 2, 'a');
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>('a' + i % 23);
    const std::string second(MiB / 2, 'z');
    Result r = restoreOne({backup.add(first), backup.add(second)}, 3 * MiB, {{{MiB, MiB}}});
    ASSERT_TRUE(r.isComplete()) << r.failures.front().reason;
    EXPECT_EQ(Sandbox::readFile(f()), first.substr(0, MiB) + std::string(MiB, '\0') + first.substr(MiB) + second);
    struct stat st;
    ASSERT_EQ(::stat(f().c_str(), &st), 0);
    EXPECT_LE(st.st_blocks * 512, static_cast<long>(2 * MiB + 64 * 1024));
}

TEST_F(FileContentTest, ContentMustFitTheRecordedShape) {
    struct Case {
        std::optional<std::uint64_t> size;
        std::optional<std::vector<TreeObject::SparseRange>> holes;
        std::string content;
        std::string restored;  // or the failure's reason
    };
    const std::string c10(10, 'c'), z5(5, '\0');
    const Case cases[] = {
        {10, {}, "", std::string(10, '\0')},
        {std::nullopt, {}, "", ""},
        {4, {}, "0123456789", "0123456789"},  // without holes longer content extends the file
        {30, {{{10, 10}}}, std::string(20, 'c'), c10 + std::string(10, '\0') + c10},
        {30, {{{10, 10}}}, std::string(21, 'c'), shapeFailure},
        {0, {{{0, 10}}}, "", ""},
        {0, {{{0, 10}}}, "c", shapeFailure},
        {50, {{{0, 50}}}, "c", shapeFailure},
        {10, {{{5, max64}}}, "ccccc", "ccccc" + z5},  // a hole past the end is clipped
        {10, {{{max64 - 5, 100}}}, c10, c10},
        {10, {{{max64 - 5, 100}}}, c10 + "c", shapeFailure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.size ? *c.size : 0) << " " << c.content.size());
        Result r = restoreOne(c.content.empty() ? std::vector<BlobID>{} : std::vector{backup.add(c.content)}, c.size,
                              c.holes);
        if (c.restored.starts_with(wentWrong)) {
            EXPECT_EQ(failureReasons(r), Strings{c.restored});
            EXPECT_FALSE(fs::exists(f()));
        } else {
            EXPECT_TRUE(r.isComplete());
            EXPECT_EQ(Sandbox::readFile(f()), c.restored);
            fs::remove(f());
        }
    }
    // The largest offset fits the type but not the file system: an error, and no file left.
    const auto largest = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    Result r = restoreOne({}, largest, {{{0, largest}}});
    if (!r.isComplete()) {
        EXPECT_NE(r.failures[0].reason.find("destinationNotUsable"), std::string::npos);
        EXPECT_FALSE(fs::exists(f()));
    }
}

// A missing blob midway removes the partly written file by its raw name only, never
// the file its repaired name would name.
TEST_F(FileContentTest, MissingBlobRemovesOnlyThePartlyWrittenFile) {
    Sandbox::writeFile(box.target() / "\xef\xbf\xbd", "someone else's");
    backup.setRoot(backup.addTree({fileEntry("\xff", {backup.add("first part"), backup.reserve()}, 20)}));
    Result r = restore();
    EXPECT_EQ(r.filesRestored, 0u);
    EXPECT_EQ(failurePaths(r), Strings{"\xef\xbf\xbd"});
    EXPECT_EQ(failureReasons(r), Strings{wentWrong + "FakeBackup.missingBlob"});
    EXPECT_FALSE(fs::exists(box.target() / "\xff"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "\xef\xbf\xbd"), "someone else's");
}

}  // namespace
}  // namespace wm
