// Throughput of blob sealing and opening, identities and pack hashing.
//   bench_crypto --benchmark_filter=Open
#include <benchmark/benchmark.h>

#include "crypto/BlobCipher.h"
#include "crypto/BlobCompression.h"
#include "crypto/PackHashing.h"
#include "crypto/Passphrase.h"
#include "crypto/SecureRandom.h"

namespace wm {
namespace {

constexpr std::size_t mebibyte = std::size_t{1} << 20;

const RepositoryKeys& keys() {
    static const RepositoryKeys k(SymmetricKey::random(), *RepositoryID::fromBytes(SecureRandom::bytes(32)));
    return k;
}

// Random bytes never compress, so the sealed blob stores its body.
const Bytes& incompressible() {
    static const Bytes data = SecureRandom::bytes(mebibyte);
    return data;
}

// Text-like data that compresses well.
const Bytes& compressible() {
    static const Bytes data = [] {
        Bytes b(mebibyte);
        const std::string words[] = {"wendle ", "marsh ", "restore ", "backup ", "snapshot ", "blob ", "pack "};
        std::uint32_t x = 1;
        std::size_t i = 0;
        while (i < b.size()) {
            x = x * 1664525u + 1013904223u;
            for (char c : words[(x >> 16) % 7]) {
                if (i == b.size()) break;
                b[i++] = static_cast<std::uint8_t>(c);
            }
        }
        return b;
    }();
    return data;
}

void openBlob(benchmark::State& state, BlobCipher::Sealing mode, const Bytes& plaintext) {
    BlobCipher cipher(keys(), mode);
    BlobID id = cipher.identity(plaintext);
    Bytes sealed = cipher.seal(plaintext, id, BlobType::data);
    for (auto _ : state) {
        Bytes out = cipher.open(sealed, id, BlobType::data);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plaintext.size()));
    state.counters["sealedBytes"] = static_cast<double>(sealed.size());
}

void BM_OpenStored1MiB(benchmark::State& state) {
    openBlob(state, BlobCipher::Sealing::nonceFromStoredBytes, incompressible());
}
BENCHMARK(BM_OpenStored1MiB);

void BM_OpenStored1MiBFormat1(benchmark::State& state) {
    openBlob(state, BlobCipher::Sealing::fixedNonce, incompressible());
}
BENCHMARK(BM_OpenStored1MiBFormat1);

void BM_OpenCompressible1MiB(benchmark::State& state) {
    openBlob(state, BlobCipher::Sealing::nonceFromStoredBytes, compressible());
}
BENCHMARK(BM_OpenCompressible1MiB);

void BM_Identity1MiB(benchmark::State& state) {
    BlobCipher cipher(keys(), BlobCipher::Sealing::nonceFromStoredBytes);
    for (auto _ : state) benchmark::DoNotOptimize(cipher.identity(incompressible()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mebibyte));
}
BENCHMARK(BM_Identity1MiB);

// One cipher shared by every thread, as the engine's parallel sealing does.
void sealBlob(benchmark::State& state, const Bytes& plaintext) {
    static const BlobCipher cipher(keys(), BlobCipher::Sealing::nonceFromStoredBytes);
    BlobID id = cipher.identity(plaintext);
    for (auto _ : state) {
        Bytes sealed = cipher.seal(plaintext, id, BlobType::data);
        benchmark::DoNotOptimize(sealed.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plaintext.size()));
}

void BM_SealIncompressible1MiB(benchmark::State& state) { sealBlob(state, incompressible()); }
BENCHMARK(BM_SealIncompressible1MiB)->ThreadRange(1, 8)->UseRealTime();

void BM_SealCompressible1MiB(benchmark::State& state) { sealBlob(state, compressible()); }
BENCHMARK(BM_SealCompressible1MiB)->ThreadRange(1, 8)->UseRealTime();

void BM_SealMetadata64KiB(benchmark::State& state) {
    BlobCipher cipher(keys(), BlobCipher::Sealing::nonceFromStoredBytes);
    ByteView body(incompressible().data(), 65536);
    for (auto _ : state) benchmark::DoNotOptimize(cipher.sealMetadata(body));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_SealMetadata64KiB);

void BM_PackHash1MiB(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(hashPackID(incompressible()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mebibyte));
}
BENCHMARK(BM_PackHash1MiB);

void BM_SignRecord(benchmark::State& state) {
    ByteView record(incompressible().data(), 512);
    for (auto _ : state) benchmark::DoNotOptimize(keys().sign(record));
}
BENCHMARK(BM_SignRecord);

void BM_PassphraseDefaultIterations(benchmark::State& state) {
    Bytes salt = SecureRandom::bytes(16);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Passphrase::deriveKey("correct horse battery staple", salt, Passphrase::defaultIterations));
}
BENCHMARK(BM_PassphraseDefaultIterations)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wm

BENCHMARK_MAIN();
