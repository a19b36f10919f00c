// What keeping writers apart costs a backup, to be set against storing it (engine_store:
// BM_StoreIncompressiblePool with WM_BENCH_STORE_MIB=1024 stores 1 GiB): the writing lock
// claimed and released once per run (a lock of the operating system on the folder, then
// "writing.lock" written durably; at the end read back and removed), one refresh per minute
// of the run, the head read again by every commit before it puts its own in place, and the
// lock file read again before each step that makes work visible (twice per commit: before the
// snapshot record and before the head; a sweep also once per file it deletes).
// The aim: all of it under 1% of storing 1 GiB.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "Scratch.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/HeldWritingLock.h"
#include "engine/Repository.h"
#include "engine/WritingLock.h"
#include "storage/LocalFolderDestination.h"

namespace {

using namespace wm;

using wm::bench::Scratch;

std::shared_ptr<LocalFolderDestination> folder(const Scratch& scratch) {
    return std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(),
                                                    scratch.path, std::nullopt,
                                                    LocalFolderDestination::Preparation::preparing());
}

HeldWritingLock::Holder holder() {
    DeviceID device;
    SecureRandom::fill(device.bytes);
    return {device, "bench"};
}

// Claimed and released, as every backup does once.
void BM_LockClaimAndRelease(benchmark::State& state) {
    const Scratch scratch;
    const auto destination = folder(scratch);
    const auto who = holder();
    for (auto _ : state) {
        const HeldWritingLock lock(scratch.path, destination, HeldWritingLock::Scope::writing, who);
    }
}

// One refresh, as the background thread makes every minute.
void BM_LockRefresh(benchmark::State& state) {
    const Scratch scratch;
    const auto destination = folder(scratch);
    const auto who = holder();
    const HeldWritingLock lock(scratch.path, destination, HeldWritingLock::Scope::writing, who);
    for (auto _ : state)
        benchmark::DoNotOptimize(claimWriting(*destination, who.device, who.deviceName, Date::repositoryNow()));
}

// The lock file read again and judged, as before each step that makes work visible.
void BM_LockCheckPerStep(benchmark::State& state) {
    const Scratch scratch;
    const auto destination = folder(scratch);
    const HeldWritingLock lock(scratch.path, destination, HeldWritingLock::Scope::writing, holder());
    for (auto _ : state) lock.confirmHeld();
}

// The head read again before a commit puts its own in place, with as many snapshots listed
// as the argument (a head grows by one identifier per snapshot).
void BM_HeadCheckPerCommit(benchmark::State& state) {
    const Scratch scratch;
    RepositoryID id;
    SecureRandom::fill(id.bytes);
    const RepositoryKeys keys(SymmetricKey::random(), id);
    auto repository = Repository::create(folder(scratch), keys, holder().device, "bench", std::nullopt, 2, Date::now());
    std::vector<SnapshotID> listed;
    for (std::int64_t i = 0; i < state.range(0); ++i) listed.push_back(SnapshotID{UUID::random()});
    repository->setHead(repository->lockWriting(), listed, Date::now());
    for (auto _ : state) repository->checkHeadUnchanged();
    state.counters["snapshots"] = static_cast<double>(state.range(0));
}

BENCHMARK(BM_LockClaimAndRelease)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LockRefresh)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LockCheckPerStep)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_HeadCheckPerCommit)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
