// Looking inside a snapshot: folder contents, reading files, searching names, the file map.
#include <gtest/gtest.h>

#include "engine/SnapshotBrowser.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

using Strings = std::vector<std::string>;

Bytes filled(std::size_t n, char c) { return Bytes(n, static_cast<std::uint8_t>(c)); }

class Browser : public FaultyRepositoryTest {
protected:
    SnapshotBrowser browser{repository};

    SnapshotID sample() {
        return commitTree(*repository, {Node::folder("Photos", {Node::file("cat.png", {filled(3, 'c')})}),
                                        Node::file("Report.txt", {filled(4, 't'), filled(4, 'u')}), Node::file("empty"),
                                        Node::symlink("link", "Photos")});
    }
};

TEST_F(Browser, ContentsPutFoldersFirstThenTheFileBrowsersOrderAndDescribeEachEntry) {
    const auto id = commitTree(*repository, {Node::file("file10"), Node::folder("Zeta"), Node::file("File2"),
                                             Node::folder("alpha", {Node::file("x", {filled(3, 'c')})}),
                                             Node::file("file1"), Node::file("b"), Node::symlink("link", "alpha")});
    const auto items = browser.contents({}, id);
    Strings names;
    for (const auto& item : items) names.push_back(item.name);
    EXPECT_EQ(names, (Strings{"alpha", "Zeta", "b", "file1", "File2", "file10", "link"}));
    EXPECT_TRUE(items[0].isDirectory && items[0].size == 0 && items[0].id() == "alpha");
    const auto inner = browser.contents({"alpha"}, id);
    EXPECT_TRUE(!inner.at(0).isDirectory && inner[0].size == 3 && inner[0].id() == "alpha/x");
    EXPECT_EQ(inner[0].modifiedAt, Date::fromMicroseconds(1'700'000'000'500'000));
    for (const Strings& path : {Strings{"alpha", "x"}, Strings{"Missing"}, Strings{"link"}})
        EXPECT_TRUE(browser.contents(path, id).empty()) << joinedPath(path);
}

TEST_F(Browser, NamesMatchUnderCanonicalEquivalenceAndIllFormedOnesAreRepaired) {
    const std::string precomposed = "R\xC3\xA9sum\xC3\xA9", decomposed = "Re\xCC\x81sume\xCC\x81";
    const auto id = commitTree(*repository, {Node::folder(decomposed, {Node::file("cv.txt", {bytesOf("cv")})}),
                                             Node::file(precomposed + ".txt", {bytesOf("text")}),
                                             Node::rawFile(Bytes{'a', 0xFF, 'b'}, {bytesOf("data")})});
    EXPECT_EQ(browser.read({precomposed, "cv.txt"}, id, 100), bytesOf("cv"));
    EXPECT_EQ(browser.contents({precomposed}, id).size(), 1u);
    EXPECT_EQ(browser.read({decomposed + ".txt"}, id, 100), bytesOf("text"));
    EXPECT_EQ(browser.read({"a\xEF\xBF\xBD"
                            "b"},
                           id, 100),
              bytesOf("data"));
}

TEST_F(Browser, ReadGivesNothingButForARegularFileAndReadErrorsPassThrough) {
    const auto id = sample();
    for (const Strings& path : {Strings{"Photos"}, Strings{"link"}, Strings{"Nope", "x"}, Strings{"Report.txt", "x"},
                                Strings{}, Strings{"empty"}})
        EXPECT_TRUE(browser.read(path, id, 100).empty()) << joinedPath(path);
    EXPECT_THROW(browser.contents({}, SnapshotID::random()), DestinationError);
    const auto location =
        repository->withIndex([&](const CompactIndex& index) { return index.location(rootOf(*repository, id)); });
    faulty->flipBitOnRead("packs/*", static_cast<std::int64_t>(location.value().entry.offset + 40) * 8);
    EXPECT_THROW(browser.contents({}, id), BlobCipherError);
    EXPECT_THROW(browser.search("x", id, 10), BlobCipherError);
}

// A sparse file's blobs hold its data regions only; the holes read as zeros. A limit fetches
// only the blobs it needs.
TEST_F(Browser, SparseFileReadsWithItsHoles) {
    Node sparse = Node::file("disk.img", {filled(10, 'x'), filled(6, 'y'), filled(4, 'z')});
    sparse.sizeFromChunks = false;
    sparse.entry.size = 50;
    // Data at [5, 15) and [25, 35).
    sparse.entry.sparseRanges = std::vector<TreeObject::SparseRange>{{0, 5}, {15, 10}, {35, 15}};
    const auto id = commitTree(*repository, {sparse});
    Bytes expected(50, 0);
    std::fill_n(expected.begin() + 5, 10, 'x');
    std::fill_n(expected.begin() + 25, 6, 'y');
    std::fill_n(expected.begin() + 31, 4, 'z');
    const std::pair<std::uint64_t, std::size_t> limitsAndBlobsFetched[] = {{UINT64_MAX, 3}, {20, 1}, {26, 2},
                                                                           {31, 2},         {32, 3}, {3, 0}};
    for (const auto& [limit, blobs] : limitsAndBlobsFetched) {
        faulty->clearLog();
        const auto n = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(limit, expected.size()));
        EXPECT_EQ(browser.read({"disk.img"}, id, limit), Bytes(expected.begin(), expected.begin() + n)) << limit;
        EXPECT_EQ(packReads(*faulty), 1 + blobs) << limit;
    }
}

// Depth first, folders before their contents; the limit stops the walk.
TEST_F(Browser, SearchFindsNamesInsensitivelyAndStopsAtTheLimit) {
    const auto id = commitTree(
        *repository,
        {Node::folder("Reports", {Node::file("report-a.txt"), Node::folder("Old", {Node::file("REPORT.doc")})}),
         Node::file("R\xC3\xA9port.txt", {filled(9, 'r')}), Node::file("notes"),
         Node::folder("other", {Node::file("report-b")})});
    const auto hits = browser.search("report", id, 100);
    Strings paths;
    for (const auto& hit : hits) paths.push_back(joinedPath(hit.path));
    EXPECT_EQ(paths, (Strings{"Reports", "Reports/report-a.txt", "Reports/Old/REPORT.doc", "R\xC3\xA9port.txt",
                              "other/report-b"}));
    EXPECT_EQ(hits[3].size, 9u);
    // Query, limit, hits, trees read. An empty query finds nothing, so walks everything.
    using Case = std::tuple<std::string, std::int64_t, std::size_t, std::size_t>;
    for (const auto& [query, limit, found, trees] :
         {Case{"report", 2, 2, 2}, Case{"report", -5, 0, 0}, Case{"", 10, 0, 4}}) {
        faulty->clearLog();
        EXPECT_EQ(browser.search(query, id, limit).size(), found) << limit;
        EXPECT_EQ(packReads(*faulty), trees) << limit;
    }
}

TEST_F(Browser, ListingMapsFilesToTheirBlobsUpToTheLimit) {
    const auto id = sample();
    const auto listing = browser.listing(id, 100);
    const auto report = contentOf(*repository, rootOf(*repository, id), "Report.txt");
    EXPECT_EQ(listing.files.at("Report.txt"), report.at(0).hex() + "," + report.at(1).hex());
    EXPECT_EQ(listing.files.at("empty") + listing.files.at("link"), "");
    const auto endsWithFile =
        commitTree(*repository, {Node::folder("d", {Node::file("a")}), Node::file("b"), Node::file("c")});
    const auto endsWithFolder =
        commitTree(*repository, {Node::file("a"), Node::file("b"), Node::file("c"), Node::folder("d")});
    struct Case {
        SnapshotID snapshot;
        std::int64_t limit;
        std::size_t files;
        bool complete;
    };
    for (const Case& c :
         {Case{endsWithFile, 3, 3, true}, Case{endsWithFile, 2, 2, false}, Case{endsWithFolder, 3, 3, false},
          Case{endsWithFolder, 4, 3, true}, Case{endsWithFile, -1, 0, false},
          Case{commitTree(*repository, {}), 0, 0, true}, Case{id, 100, 4, true}}) {
        const auto limited = browser.listing(c.snapshot, c.limit);
        EXPECT_EQ(limited.files.size(), c.files) << c.limit;
        EXPECT_EQ(limited.complete, c.complete) << c.limit;
    }
}

TEST_F(Browser, RecordWithoutARootTreeGivesEmptyResults) {
    SnapshotRecord record;
    record.id = UUID::random();
    record.deviceID = testDevice().data();
    record.createdAt = fixedNow();
    record.rootTree = Bytes(5, 1);
    const SnapshotID id{record.id};
    memory->put(RepositoryLayout::snapshot(id), SignedFile::seal(record, repository->keys(), repository->cipher()));
    EXPECT_TRUE(browser.search("a", id, 10).empty() && browser.read({"a"}, id, 10).empty());
    EXPECT_TRUE(browser.listing(id, 10).files.empty() && browser.listing(id, 10).complete);
    EXPECT_TRUE(browser.contents({}, id).empty());
}

}  // namespace
}  // namespace wm::test
