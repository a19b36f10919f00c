// Behaviour every destination shares, run against the local folder and the in-memory model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

#include "storage/LocalFolderDestination.h"
#include "storage/ReadOnlyDestination.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

struct Fixture {
    std::unique_ptr<test::TempFolder> folder;
    std::shared_ptr<Destination> destination;
};

struct Maker {
    const char* name;
    std::function<Fixture()> make;
};

std::ostream& operator<<(std::ostream& os, const Maker& m) { return os << m.name; }

class DestinationContract : public ::testing::TestWithParam<Maker> {
protected:
    void SetUp() override {
        fixture_ = GetParam().make();
        d = fixture_.destination;
    }
    void put(const RepoPath& path, std::string_view text) {
        auto w = d->openWrite(path);
        w->write(viewOf(text));
        w->commit();
    }
    std::vector<std::string> names(const RepoPath& folder) {
        std::vector<std::string> out;
        for (const auto& p : d->list(folder)) {
            EXPECT_EQ(p.parent(), folder);
            out.push_back(p.fileName());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::size_t debris() { return d->list(RepoPath() / "tmp").size(); }
    Fixture fixture_;
    std::shared_ptr<Destination> d;
};

const RepoPath kPack = RepoPath() / "packs" / "ab" / "ab01.pack";

TEST_P(DestinationContract, OnlyACommitMakesTheObjectAndItReplacesTheOldOneWhole) {
    put(kPack, "first version, longer");
    auto w = d->openWrite(kPack);
    w->write(viewOf("hello "));
    w->write(viewOf("world"));
    EXPECT_EQ(stringOf(d->read(kPack)), "first version, longer");
    w->commit();
    EXPECT_EQ(d->size(kPack), 11);
    EXPECT_EQ(stringOf(d->read(kPack)), "hello world");
    EXPECT_EQ(debris(), 0u);
    // A committed writer is finished.
    EXPECT_THROW(w->write(viewOf("y")), DestinationError);
    EXPECT_THROW(w->commit(), DestinationError);
    w->cancel();
    EXPECT_EQ(stringOf(d->read(kPack)), "hello world");

    auto empty = d->openWrite(RepoPath() / "empty");
    empty->write({});
    empty->commit();
    EXPECT_EQ(d->size(RepoPath() / "empty"), 0);
    EXPECT_TRUE(d->read(RepoPath() / "empty", ByteRange{0, 0}).empty());
}

TEST_P(DestinationContract, CancelledOrDroppedWritersNeverReachTheFinalPath) {
    put(kPack, "kept");
    auto cancelled = d->openWrite(kPack);
    cancelled->write(viewOf("dropped"));
    cancelled->cancel();
    EXPECT_EQ(debris(), 0u);
    {
        auto dropped = d->openWrite(RepoPath() / "new");
        dropped->write(viewOf("pending"));
    }
    EXPECT_EQ(stringOf(d->read(kPack)), "kept");
    EXPECT_FALSE(d->exists(RepoPath() / "new"));
    EXPECT_EQ(debris(), 1u);  // left for the next preparation to clear
}

TEST_P(DestinationContract, RangedReadsAtTheEdges) {
    put(RepoPath() / "f", "0123456789");
    const RepoPath f = RepoPath() / "f";
    struct Row {
        ByteRange range;
        const char* expected;  // nullptr: an error
        DestinationError::Kind kind = DestinationError::Kind::shortRead;
    };
    const std::vector<Row> rows = {
        {{0, 10}, "0123456789"}, {{0, 1}, "0"},     {{9, 10}, "9"},      {{3, 7}, "3456"},
        {{10, 10}, ""},          {{4, 4}, ""},      {{9, 11}, nullptr},  {{10, 11}, nullptr},
        {{20, 30}, nullptr},     {{-1, 3}, nullptr, DestinationError::Kind::ioFailed},
        {{5, 4}, nullptr, DestinationError::Kind::ioFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.range.lower) + ".." + std::to_string(row.range.upper));
        if (row.expected) {
            EXPECT_EQ(stringOf(d->read(f, row.range)), row.expected);
            std::string buffer(static_cast<std::size_t>(row.range.count()), '?');
            d->readInto(f, row.range.lower,
                        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size()));
            EXPECT_EQ(buffer, row.expected);
        } else {
            try {
                d->read(f, row.range);
                ADD_FAILURE() << "no error";
            } catch (const DestinationError& e) {
                EXPECT_EQ(e.kind, row.kind) << e.what();
                if (e.kind == DestinationError::Kind::shortRead) {
                    EXPECT_EQ(e.expected, row.range.count());
                    EXPECT_EQ(e.got, std::max<std::int64_t>(0, 10 - row.range.lower));
                }
            }
        }
    }
}

// Reads through the base class's readInto.
class ForwardingDestination final : public Destination {
public:
    explicit ForwardingDestination(std::shared_ptr<Destination> inner) : inner_(std::move(inner)) {}
    DestinationID id() const override { return inner_->id(); }
    DestinationKind kind() const override { return inner_->kind(); }
    DestinationCapabilities capabilities() override { return inner_->capabilities(); }
    Availability availability() override { return inner_->availability(); }
    bool exists(const RepoPath& p) override { return inner_->exists(p); }
    std::optional<std::int64_t> size(const RepoPath& p) override { return inner_->size(p); }
    Bytes read(const RepoPath& p, std::optional<ByteRange> r) override { return inner_->read(p, r); }
    std::vector<RepoPath> list(const RepoPath& f) override { return inner_->list(f); }
    std::unique_ptr<DurableWriter> openWrite(const RepoPath& p) override { return inner_->openWrite(p); }
    void remove(const RepoPath& p) override { inner_->remove(p); }
    std::optional<std::int64_t> freeSpace() override { return inner_->freeSpace(); }

private:
    std::shared_ptr<Destination> inner_;
};

// Offsets come from index entries read from disk: one near the largest value must be a read
// past the end, never a wrapped sum that passes the bounds check.
TEST_P(DestinationContract, OffsetsNearTheLargestValueAreReadsPastTheEnd) {
    const RepoPath f = RepoPath() / "f";
    put(f, "0123456789");
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::shared_ptr<Destination>> views = {
        d, std::make_shared<test::FaultyDestination>(d), std::make_shared<ReadOnlyDestination>(d),
        std::make_shared<ForwardingDestination>(d)};
    for (std::size_t v = 0; v < views.size(); ++v) {
        for (std::int64_t offset : {kMax, kMax - 1, kMax - 3, kMax / 2}) {
            SCOPED_TRACE("view " + std::to_string(v) + ", offset " + std::to_string(offset));
            std::array<std::uint8_t, 4> buffer{};
            try {
                views[v]->readInto(f, offset, buffer);
                ADD_FAILURE() << "no error";
            } catch (const DestinationError& e) {
                EXPECT_EQ(e.kind, DestinationError::Kind::shortRead) << e.what();
                EXPECT_EQ(e.expected, 4);
                EXPECT_EQ(e.got, 0);
            }
            try {
                views[v]->read(f, ByteRange{offset, kMax});
                ADD_FAILURE() << "no error";
            } catch (const DestinationError& e) {
                EXPECT_EQ(e.kind, DestinationError::Kind::shortRead) << e.what();
            }
        }
    }
}

TEST_P(DestinationContract, AMissingObjectIsNotFound) {
    const RepoPath missing = RepoPath() / "snapshots" / "nothing.snap";
    EXPECT_FALSE(d->exists(missing));
    EXPECT_EQ(d->size(missing), std::nullopt);
    std::uint8_t byte;
    EXPECT_THROW(d->readInto(missing, 0, {&byte, 1}), DestinationError);
    try {
        d->read(missing, ByteRange{0, 4});
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::notFound);
        EXPECT_EQ(e.path, missing);
    }
}

TEST_P(DestinationContract, ListingAndRemoving) {
    put(RepoPath() / "packs" / "ab" / "1.pack", "a");
    put(RepoPath() / "packs" / "cd" / "2.pack", "b");
    put(RepoPath() / "packs" / "loose", "c");
    EXPECT_EQ(names(RepoPath() / "packs"), (std::vector<std::string>{"ab", "cd", "loose"}));
    EXPECT_EQ(names(RepoPath() / "packs" / "ab"), (std::vector<std::string>{"1.pack"}));
    // A missing folder is empty; a file is not a folder, nor a folder a file.
    EXPECT_TRUE(d->list(RepoPath() / "index" / "deeper").empty());
    EXPECT_THROW(d->list(RepoPath() / "packs" / "loose"), DestinationError);
    EXPECT_EQ(d->size(RepoPath() / "packs"), std::nullopt);
    EXPECT_TRUE(d->exists(RepoPath() / "packs"));

    const RepoPath file = RepoPath() / "packs" / "ab" / "1.pack";
    EXPECT_THROW(d->remove(RepoPath() / "packs" / "ab"), DestinationError);  // not empty
    d->remove(file);
    EXPECT_FALSE(d->exists(file));
    d->remove(file);  // already gone: no error
    d->remove(RepoPath() / "packs" / "ab");
    EXPECT_FALSE(d->exists(RepoPath() / "packs" / "ab"));
    d->remove(RepoPath() / "never" / "was");
}

TEST_P(DestinationContract, SeveralThreadsReadAndWriteAtOnce) {
    constexpr int kThreads = 6, kFiles = 20;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            try {
                for (int i = 0; i < kFiles; ++i) {
                    const RepoPath path = RepoPath() / ("t" + std::to_string(t)) / ("f" + std::to_string(i));
                    std::string text(static_cast<std::size_t>(100 + i), static_cast<char>('a' + t));
                    put(path, text);
                    if (stringOf(d->read(path, ByteRange{0, 100})) != text.substr(0, 100)) ++failures;
                    // Everyone writes the shared object too; the last commit wins whole.
                    put(RepoPath() / "shared", text.substr(0, 50));
                    auto shared = stringOf(d->read(RepoPath() / "shared"));
                    if (shared.size() != 50 || shared.find_first_not_of(shared[0]) != std::string::npos) ++failures;
                }
            } catch (const std::exception& e) {
                ++failures;
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(d->list(RepoPath() / ("t" + std::to_string(t))).size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(debris(), 0u);
}

Fixture makeLocal() {
    Fixture f;
    f.folder = std::make_unique<test::TempFolder>("wm-dest");
    f.destination = std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(),
                                                             f.folder->path() / "repo", std::nullopt,
                                                             LocalFolderDestination::Preparation::preparing());
    return f;
}

Fixture makeInMemory() { return Fixture{nullptr, std::make_shared<test::InMemoryDestination>()}; }

INSTANTIATE_TEST_SUITE_P(Destinations, DestinationContract,
                         ::testing::Values(Maker{"LocalFolder", makeLocal}, Maker{"InMemory", makeInMemory}),
                         [](const ::testing::TestParamInfo<Maker>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace wm
