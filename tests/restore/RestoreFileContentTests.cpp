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
const std::string tooLarge = notWritten("the backup records a size or position larger than a file can have");

using Holes = std::optional<std::vector<TreeObject::SparseRange>>;
using FileContentTest = RestoreFixture;

// Each row: recorded size, holes, content blobs, and the file restored or the failure's reason.
TEST_F(FileContentTest, ContentMustFitTheRecordedShape) {
    const std::string c10(10, 'c'), half(MiB / 2, 'z');
    std::string oneAndAHalf(MiB + MiB / 2, 'a');
    for (std::size_t i = 0; i < oneAndAHalf.size(); ++i) oneAndAHalf[i] = static_cast<char>('a' + i % 23);
    const std::tuple<std::optional<std::uint64_t>, Holes, std::vector<std::string>, std::string> cases[] = {
        {10, {}, {}, shortFailure},
        {std::nullopt, {}, {}, ""},
        // A blob spanning the hole from 1 MiB to 2 MiB, then one filling the end.
        {3 * MiB,
         {{{MiB, MiB}}},
         {oneAndAHalf, half},
         oneAndAHalf.substr(0, MiB) + std::string(MiB, '\0') + oneAndAHalf.substr(MiB) + half},
        {4, {}, {"0123456789"}, shapeFailure},
        {10, {}, {"01234", "56789"}, "0123456789"},
        {30, {{{10, 10}}}, {c10}, shortFailure},
        {30, {{{10, 10}}}, {c10, c10}, c10 + std::string(10, '\0') + c10},
        {30, {{{10, 10}}}, {c10, c10 + "c"}, shapeFailure},
        {0, {{{0, 10}}}, {}, ""},
        {0, {{{0, 10}}}, {"c"}, shapeFailure},
        {10, {{{5, max64}}}, {"ccccc"}, "ccccc" + std::string(5, '\0')},  // a hole past the end is clipped
        {10, {{{max64 - 5, 100}}}, {c10}, c10},
        {10, {{{max64 - 5, 100}}}, {c10 + "c"}, shapeFailure},
        {max64, {}, {"data"}, tooLarge},
        {std::uint64_t{1} << 63, {{{0, (std::uint64_t{1} << 63) - 4}}}, {"data"}, tooLarge},
        {8, {{{max64, max64}, {max64 - 1, 3}}}, {"data"}, shortFailure},  // holes that wrap around
    };
    const fs::path f = box.target() / "f";
    for (const auto& [size, holes, blobs, restored] : cases) {
        SCOPED_TRACE(testing::Message() << (size ? *size : 0) << " " << blobs.size());
        std::vector<BlobID> ids;
        for (const auto& b : blobs) ids.push_back(backup.add(b));
        auto entry = fileEntry("f", ids, size);
        entry.sparseRanges = holes;
        backup.setRoot(backup.addTree({entry}));
        const bool fails = restored.starts_with(notWrittenPrefix);
        const Result r = restore();
        EXPECT_EQ(failureReasons(r), fails ? Strings{restored} : Strings{});
        for (const auto& u : r.unpreserved) EXPECT_NE(u.attribute, "content");
        EXPECT_EQ(fails ? "" : stringOf(box.readFile(f)), fails ? "" : restored);
        EXPECT_EQ(fs::remove(f), !fails);
    }
}

// A file that changed while it was backed up comes back as the backup holds it: the recorded
// size kept, zeros where the content does not reach, content past the size or the last data
// region written on from the recorded size; with one record saying so, and no failure. A
// missing blob still fails it and leaves no file.
TEST_F(FileContentTest, AFileThatChangedWhileBackedUpComesBackAsTheBackupHoldsIt) {
    const std::string c10(10, 'c'), zeros10(10, '\0');
    const std::tuple<std::optional<std::uint64_t>, Holes, std::vector<std::string>, std::string> cases[] = {
        {10, {}, {}, zeros10},
        {10, {}, {"01234"}, "01234" + std::string(5, '\0')},
        {10, {}, {"01234", "56789"}, "0123456789"},
        {4, {}, {"01234", "56789"}, "0123456789"},
        {30, {{{10, 10}}}, {c10}, c10 + zeros10 + zeros10},
        {30, {{{10, 10}}}, {c10, c10 + "dd"}, c10 + zeros10 + c10 + "dd"},
        {30, {{{20, 10}}}, {c10 + c10 + "d", "d"}, c10 + c10 + zeros10 + "dd"},  // past a trailing hole
        {0, {{{0, 10}}}, {"c"}, "c"},
        {10, {}, {"0123", "missing"}, damaged},
    };
    const fs::path f = box.target() / "f";
    for (const auto& [size, holes, blobs, restored] : cases) {
        SCOPED_TRACE(testing::Message() << (size ? *size : 0) << " " << blobs.size());
        std::vector<BlobID> ids;
        for (const auto& b : blobs) ids.push_back(b == "missing" ? backup.reserve() : backup.add(b));
        auto entry = fileEntry("f", ids, size);
        entry.sparseRanges = holes;
        entry.status = TreeObject::Status::unstable;
        backup.setRoot(backup.addTree({entry}));
        const Result r = restore();
        const bool fails = restored == damaged;
        EXPECT_EQ(failureReasons(r), fails ? Strings{damaged} : Strings{});
        Strings records;
        for (const auto& u : r.unpreserved)
            if (u.attribute == "content") records.push_back(u.path + " " + u.attribute + " " + u.reason);
        EXPECT_EQ(records, fails ? Strings{}
                                 : Strings{"f content this file changed while it was backed up, so what came back is "
                                           "a moment part way through"});
        EXPECT_EQ(fails ? "" : stringOf(box.readFile(f)), fails ? "" : restored);
        EXPECT_EQ(fs::remove(f), !fails);
    }
}

// A missing blob midway removes the partly written file by its raw name only, never
// the file its repaired name would name.
TEST_F(FileContentTest, MissingBlobRemovesOnlyThePartlyWrittenFile) {
    box.writeFile(box.target() / "\xef\xbf\xbd", "someone else's");
    backup.setRoot(backup.addTree({fileEntry("\xff", {backup.add("first part"), backup.reserve()}, 20)}));
    Result r = restore();
    EXPECT_EQ(counts(r), "files=0 hardlinks=0 folders=0 symlinks=0");
    EXPECT_EQ(failurePaths(r), Strings{"\xef\xbf\xbd"});
    EXPECT_EQ(failureReasons(r), Strings{damaged});
    EXPECT_FALSE(fs::exists(box.target() / "\xff"));
    EXPECT_EQ(stringOf(box.readFile(box.target() / "\xef\xbf\xbd")), "someone else's");
}

}  // namespace
}  // namespace wm
