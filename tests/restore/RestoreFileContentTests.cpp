#include <limits>

#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr std::uint64_t MiB = 1u << 20;
constexpr std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();
const std::string shapeFailure = notWritten("the backup holds more content than this file's recorded shape");
const std::string shortFailure = notWritten("the backup holds less content than this file's recorded shape");

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

TEST_F(FileContentTest, ContentMustFitTheRecordedShape) {
    struct Case {
        std::optional<std::uint64_t> size;
        std::optional<std::vector<TreeObject::SparseRange>> holes;
        std::vector<std::string> blobs;
        std::string restored;  // or the failure's reason
    };
    const std::string c10(10, 'c'), z5(5, '\0'), half(MiB / 2, 'z');
    std::string oneAndAHalf(MiB + MiB / 2, 'a');
    for (std::size_t i = 0; i < oneAndAHalf.size(); ++i) oneAndAHalf[i] = static_cast<char>('a' + i % 23);
    const Case cases[] = {
        {10, {}, {}, shortFailure},
        {std::nullopt, {}, {}, ""},
        // A blob spanning the hole from 1 MiB to 2 MiB, then one filling the end.
        {3 * MiB, {{{MiB, MiB}}}, {oneAndAHalf, half},
         oneAndAHalf.substr(0, MiB) + std::string(MiB, '\0') + oneAndAHalf.substr(MiB) + half},
        {4, {}, {"0123456789"}, shapeFailure},
        {10, {}, {"01234", "56789"}, "0123456789"},
        {30, {{{10, 10}}}, {c10}, shortFailure},
        {30, {{{10, 10}}}, {c10, c10}, c10 + std::string(10, '\0') + c10},
        {30, {{{10, 10}}}, {c10, c10 + "c"}, shapeFailure},
        {0, {{{0, 10}}}, {}, ""},
        {0, {{{0, 10}}}, {"c"}, shapeFailure},
        {50, {{{0, 50}}}, {"c"}, shapeFailure},
        {10, {{{5, max64}}}, {"ccccc"}, "ccccc" + z5},  // a hole past the end is clipped
        {10, {{{max64 - 5, 100}}}, {c10}, c10},
        {10, {{{max64 - 5, 100}}}, {c10 + "c"}, shapeFailure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.size ? *c.size : 0) << " " << c.blobs.size());
        std::vector<BlobID> blobs;
        for (const auto& b : c.blobs) blobs.push_back(backup.add(b));
        Result r = restoreOne(blobs, c.size, c.holes);
        if (c.restored.starts_with(notWrittenPrefix)) {
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
        EXPECT_NE(r.failures[0].reason.find("could not be put back as the backup records it"), std::string::npos);
        EXPECT_FALSE(fs::exists(f()));
    }
}

// A missing blob midway removes the partly written file by its raw name only, never
// the file its repaired name would name.
TEST_F(FileContentTest, MissingBlobRemovesOnlyThePartlyWrittenFile) {
    Sandbox::writeFile(box.target() / "\xef\xbf\xbd", "someone else's");
    backup.setRoot(backup.addTree({fileEntry("\xff", {backup.add("first part"), backup.reserve()}, 20)}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=0 hardlinks=0 folders=0 symlinks=0");
    EXPECT_EQ(failurePaths(r), Strings{"\xef\xbf\xbd"});
    EXPECT_EQ(failureReasons(r), Strings{damaged});
    EXPECT_FALSE(fs::exists(box.target() / "\xff"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "\xef\xbf\xbd"), "someone else's");
}

}  // namespace
}  // namespace wm
