// Reading a repository: blob() over 1 MiB incompressible chunks from the page cache (one
// thread, and four threads reading at once), and opening a repository of 1,000,000 blobs in
// 200 index files, with the time taken and the resident memory it adds per blob.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "Scratch.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "storage/LocalFolderDestination.h"

namespace {

using namespace wm;

using wm::bench::Scratch;

RepositoryKeys makeKeys() {
    RepositoryID id;
    SecureRandom::fill(id.bytes);
    return RepositoryKeys(SymmetricKey::random(), id);
}

DeviceID device() {
    DeviceID id;
    id.bytes.fill(1);
    return id;
}

std::shared_ptr<Destination> folder(const std::filesystem::path& path) {
    return std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), path,
                                                    std::nullopt, LocalFolderDestination::Preparation::preparing());
}

// --- blob() ---

constexpr std::size_t kBlobs = 256;  // 256 MiB
constexpr std::size_t kBlobBytes = 1 << 20;

struct BlobRepository {
    Scratch scratch;
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository;
    std::vector<BlobID> ids;

    BlobRepository() {
        auto created = Repository::create(folder(scratch.path), keys, device(), "bench", std::nullopt, 2, Date::now());
        std::mt19937_64 g(3);
        std::vector<Bytes> chunks;
        for (std::size_t i = 0; i < kBlobs; ++i) {
            Bytes chunk(kBlobBytes);
            for (std::size_t b = 0; b + 8 <= chunk.size(); b += 8) {
                const std::uint64_t v = g();
                std::memcpy(chunk.data() + b, &v, 8);
            }
            chunks.push_back(std::move(chunk));
            if (chunks.size() == 32) {
                for (const auto& s : created->storeChunks(chunks, BlobType::data)) ids.push_back(s.id);
                chunks.clear();
            }
        }
        created->commit({BlobID{}, {}, {}, {}, "bench", {}, std::nullopt, Date::now()});
        repository =
            Repository::open(folder(scratch.path), keys, device(), "bench", std::nullopt, Repository::Access::readOnly)
                .repository;
        for (const auto& id : ids) benchmark::DoNotOptimize(repository->blob(id));  // into the page cache
    }
};

BlobRepository& blobRepository() {
    static BlobRepository r;
    return r;
}

void BM_BlobOneThread(benchmark::State& state) {
    auto& r = blobRepository();
    std::size_t i = 0;
    for (auto _ : state) {
        Bytes plain = r.repository->blob(r.ids[i++ % r.ids.size()]);
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlobBytes));
}
BENCHMARK(BM_BlobOneThread)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_BlobFourThreads(benchmark::State& state) {
    auto& r = blobRepository();
    const std::size_t perThread = 256;
    for (auto _ : state) {
        std::vector<std::thread> readers;
        for (std::size_t t = 0; t < 4; ++t) {
            readers.emplace_back([&, t] {
                for (std::size_t i = 0; i < perThread; ++i) {
                    Bytes plain = r.repository->blob(r.ids[(t * 61 + i) % r.ids.size()]);
                    benchmark::DoNotOptimize(plain.data());
                }
            });
        }
        for (auto& t : readers) t.join();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 4 * perThread * kBlobBytes));
}
BENCHMARK(BM_BlobFourThreads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// --- opening ---

constexpr std::size_t kIndexFiles = 200;
constexpr std::size_t kIndexBlobs = 1'000'000;

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void BM_OpenMillionBlobs(benchmark::State& state) {
    Scratch scratch;
    const RepositoryKeys keys = makeKeys();
    auto destination = folder(scratch.path);
    {
        auto created = Repository::create(destination, keys, device(), "bench", std::nullopt, 2, Date::now());
        // 200 index files of 5,000 blobs each, in sections of one pack per 1,000 blobs; the
        // packs themselves are not needed to open.
        std::mt19937_64 g(5);
        for (std::size_t f = 0; f < kIndexFiles; ++f) {
            std::vector<IndexFile::Section> sections;
            for (std::size_t s = 0; s < 5; ++s) {
                IndexFile::Section section;
                for (auto& b : section.pack.bytes) b = static_cast<std::uint8_t>(g());
                std::uint64_t offset = 8;
                for (std::size_t e = 0; e < kIndexBlobs / kIndexFiles / 5; ++e) {
                    PackFile::Entry entry;
                    for (auto& b : entry.id.bytes) b = static_cast<std::uint8_t>(g());
                    entry.type = BlobType::data;
                    entry.offset = offset;
                    entry.length = 1048613;
                    offset += entry.length;
                    section.entries.push_back(entry);
                }
                sections.push_back(std::move(section));
            }
            Repository::write(created->cipher().sealMetadata(IndexFile::encode(sections)),
                              RepositoryLayout::index(UUID::random()), *destination);
        }
    }
    double residentPerBlob = 0;
    double indexPerBlob = 0;
    double trimmedPerBlob = 0;
    bool first = true;
    for (auto _ : state) {
        ::malloc_trim(0);
        const std::size_t before = residentBytes();
        auto opened =
            Repository::open(destination, keys, device(), "bench", std::nullopt, Repository::Access::readOnly);
        state.PauseTiming();
        if (first) {
            first = false;
            const std::size_t after = residentBytes();
            const std::size_t blobs = opened.repository->blobCount();
            if (blobs != kIndexBlobs) state.SkipWithError("the index does not hold every blob");
            residentPerBlob = static_cast<double>(after - before) / static_cast<double>(blobs);
            ::malloc_trim(0);  // what stays once freed heap memory goes back to the system
            trimmedPerBlob = static_cast<double>(residentBytes() - before) / static_cast<double>(blobs);
            indexPerBlob = static_cast<double>(
                               opened.repository->withIndex([](const CompactIndex& i) { return i.memoryBytes(); })) /
                           static_cast<double>(blobs);
        }
        opened.repository.reset();
        state.ResumeTiming();
    }
    state.counters["resident_bytes_per_blob"] = residentPerBlob;
    state.counters["resident_bytes_per_blob_trimmed"] = trimmedPerBlob;
    state.counters["index_bytes_per_blob"] = indexPerBlob;
}
BENCHMARK(BM_OpenMillionBlobs)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
