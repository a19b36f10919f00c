// LZFSE codec speed and ratio on 1 MiB and 4 MiB samples of several kinds of data.
// The samples are assembled from files on this machine when the benchmark starts
// (nothing third-party is stored with the project):
//   words      words of the licence texts drawn at random, eight to a line (the word
//              text of the storing comparison: short matches everywhere, the hardest
//              case for the match search)
//   text       licence texts and package copyright files under /usr/share
//   c-headers  /usr/include/*.h, then the C++ standard library headers
//   cpp        the C++ standard library headers alone
//   json       generated records in the style of the repository's own JSON
//   binary     executables from /usr/bin
//   random     pseudo-random bytes
//   zeros      zero bytes
//   mixed      words and random bytes in turns of 64 KiB
// Reported: bytes/s of input (encode) or output (decode), and "ratio" = input / compressed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "crypto/lzfse/LZFSE.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> sortedFiles(const fs::path& dir, bool recursive, const std::string& extension = "") {
    std::vector<fs::path> files;
    std::error_code ec;
    auto consider = [&](const fs::directory_entry& e) {
        std::error_code fe;
        if (!e.is_regular_file(fe) || fe) return;
        if (!extension.empty() && e.path().extension() != extension) return;
        files.push_back(e.path());
    };
    if (recursive) {
        for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec))
            consider(*it);
    } else {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) consider(*it);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Concatenates files until `size` bytes; repeats them if they are too few.
wm::Bytes fromFiles(const std::vector<fs::path>& files, std::size_t size) {
    wm::Bytes out;
    out.reserve(size);
    for (int pass = 0; pass < 64 && out.size() < size; ++pass) {
        const std::size_t before = out.size();
        for (const fs::path& p : files) {
            std::ifstream in(p, std::ios::binary);
            out.insert(out.end(), std::istreambuf_iterator<char>(in), {});
            if (out.size() >= size) break;
        }
        if (out.size() == before) break;
    }
    if (out.size() > size) out.resize(size);
    return out;
}

wm::Bytes jsonSample(std::size_t size) {
    std::mt19937 rng(42);
    static const char* kinds[] = {"file", "directory", "symlink"};
    static const char* names[] = {"report", "photo", "notes", "budget", "draft", "invoice", "scan", "backup"};
    std::string s = "[\n";
    for (int i = 0; s.size() < size; ++i) {
        char hex[65];
        for (int j = 0; j < 64; ++j) hex[j] = "0123456789abcdef"[rng() % 16];
        hex[64] = 0;
        s += "  {\"name\": \"" + std::string(names[rng() % 8]) + "-" + std::to_string(rng() % 5000) + ".dat\", ";
        s += "\"kind\": \"" + std::string(kinds[rng() % 3]) + "\", ";
        s += "\"size\": " + std::to_string(rng() % 100000000) + ", ";
        s += "\"modified\": \"2024-0" + std::to_string(1 + rng() % 9) + "-1" + std::to_string(rng() % 10) + "T" +
             std::to_string(10 + rng() % 14) + ":0" + std::to_string(rng() % 10) + ":00Z\", ";
        s += "\"mode\": " + std::to_string(0644 + (rng() % 2) * 0111) + ", ";
        s += "\"content\": [\"" + std::string(hex) + "\"]}" + ",\n";
    }
    s.resize(size);
    return wm::Bytes(s.begin(), s.end());
}

wm::Bytes wordsSample(std::size_t size, std::uint32_t seed) {
    static const std::vector<std::string> vocabulary = [] {
        std::vector<std::string> words;
        for (const fs::path& p : sortedFiles("/usr/share/common-licenses", false)) {
            std::ifstream in(p, std::ios::binary);
            std::string word;
            for (char c; in.get(c);) {
                if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                    word += c;
                } else if (!word.empty()) {
                    words.push_back(std::move(word));
                    word.clear();
                }
            }
            if (!word.empty()) words.push_back(std::move(word));
        }
        std::sort(words.begin(), words.end());
        words.erase(std::unique(words.begin(), words.end()), words.end());
        return words;
    }();
    if (vocabulary.empty()) return {};
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(size + 64);
    for (int i = 0; s.size() < size; ++i) {
        s += vocabulary[rng() % vocabulary.size()];
        s += i % 8 == 7 ? '\n' : ' ';
    }
    s.resize(size);
    return wm::Bytes(s.begin(), s.end());
}

wm::Bytes randomSample(std::size_t size) {
    std::mt19937_64 rng(7);
    wm::Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng() >> 56);
    return out;
}

wm::Bytes sample(const std::string& kind, std::size_t size) {
    if (kind == "text") {
        auto files = sortedFiles("/usr/share/common-licenses", false);
        for (const auto& dir : sortedFiles("/usr/share/doc", true))
            if (dir.filename() == "copyright") files.push_back(dir);
        return fromFiles(files, size);
    }
    if (kind == "c-headers") {
        auto files = sortedFiles("/usr/include", false, ".h");
        auto cxx = sortedFiles("/usr/include/c++/12", true);
        files.insert(files.end(), cxx.begin(), cxx.end());
        return fromFiles(files, size);
    }
    if (kind == "words") return wordsSample(size, 1);
    if (kind == "zeros") return wm::Bytes(size, 0);
    if (kind == "mixed") {
        constexpr std::size_t turn = 64 << 10;
        const wm::Bytes words = wordsSample(size / 2, 2);
        const wm::Bytes random = randomSample(size / 2);
        if (words.size() < size / 2) return {};
        wm::Bytes out;
        out.reserve(size);
        for (std::size_t at = 0; at < size / 2; at += turn) {
            out.insert(out.end(), words.begin() + static_cast<std::ptrdiff_t>(at),
                       words.begin() + static_cast<std::ptrdiff_t>(std::min(at + turn, words.size())));
            out.insert(out.end(), random.begin() + static_cast<std::ptrdiff_t>(at),
                       random.begin() + static_cast<std::ptrdiff_t>(std::min(at + turn, random.size())));
        }
        return out;
    }
    if (kind == "cpp") return fromFiles(sortedFiles("/usr/include/c++/12", true), size);
    if (kind == "json") return jsonSample(size);
    if (kind == "binary") return fromFiles(sortedFiles("/usr/bin", false), size);
    return randomSample(size);
}

void encode(benchmark::State& state, const wm::Bytes& input) {
    std::size_t compressed = 0;
    for (auto _ : state) {
        wm::Bytes out = wm::lzfseEncode(input);
        compressed = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["ratio"] = static_cast<double>(input.size()) / static_cast<double>(compressed);
}

void decode(benchmark::State& state, const wm::Bytes& input) {
    const wm::Bytes compressed = wm::lzfseEncode(input);
    for (auto _ : state) {
        wm::Bytes out = wm::lzfseDecode(compressed, input.size());
        benchmark::DoNotOptimize(out.data());
    }
    if (wm::lzfseDecode(compressed, input.size()) != input) state.SkipWithError("round trip failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["ratio"] = static_cast<double>(input.size()) / static_cast<double>(compressed.size());
}

}  // namespace

int main(int argc, char** argv) {
    static std::vector<wm::Bytes> samples;
    samples.reserve(18);
    for (const char* kind : {"words", "text", "c-headers", "cpp", "json", "binary", "random", "zeros", "mixed"}) {
        for (std::size_t mib : {1, 4}) {
            samples.push_back(sample(kind, mib << 20));
            const wm::Bytes* input = &samples.back();
            if (input->size() < (mib << 20)) continue;  // not enough files of this kind here
            const std::string name = std::string(kind) + "/" + std::to_string(mib) + "MiB";
            benchmark::RegisterBenchmark(("LZFSEEncode/" + name).c_str(), [input](benchmark::State& s) {
                encode(s, *input);
            })->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("LZFSEDecode/" + name).c_str(), [input](benchmark::State& s) {
                decode(s, *input);
            })->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
