// wm-lzfse: compresses or expands one file with the project's LZFSE codec, for
// cross-checks against other implementations and for timing.
//
//   wm-lzfse --encode [-i input] [-o output]
//   wm-lzfse --decode [-i input] [-o output] [--size bytes]
//
// Standard input and output are used when -i or -o is missing. A stream carries no
// total length; --decode adds up the sizes its block headers declare unless --size is given.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/SystemCall.h"
#include "crypto/lzfse/DeclaredSize.h"
#include "crypto/lzfse/LZFSE.h"

namespace {

using namespace wm;
using tools::ToolRefusal;
using tools::UsageError;

const char* const kUsage =
    "usage: wm-lzfse --encode [-i input] [-o output]\n"
    "       wm-lzfse --decode [-i input] [-o output] [--size bytes]\n";

std::string shownInput(const std::string& path) { return path.empty() ? "standard input" : tools::inQuotes(path); }

// The whole of a regular file, or of standard input when path is empty.
Bytes readInput(const std::string& path) {
    const UniqueFd file(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = path.empty() ? STDIN_FILENO : file.get();
    if (fd < 0) throw ToolRefusal(shownInput(path) + " could not be opened: " + systemErrorText(errno) + ".");
    Bytes input;
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = retryingOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
        if (n == 0) break;
        if (n < 0) {
            // A folder opens but does not read.
            throw ToolRefusal(shownInput(path) + " could not be read: " + systemErrorText(errno) + ".");
        }
        input.insert(input.end(), buffer, buffer + n);
    }
    return input;
}

void writeOutput(const std::string& path, const Bytes& output) {
    UniqueFd file(path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const int fd = path.empty() ? STDOUT_FILENO : file.get();
    const std::string shown = path.empty() ? "standard output" : tools::inQuotes(path);
    if (fd < 0) throw ToolRefusal(shown + " could not be opened for writing: " + systemErrorText(errno) + ".");
    std::size_t done = 0;
    int error = 0;
    while (done < output.size()) {
        const ssize_t n = retryingOnInterrupt([&] { return ::write(fd, output.data() + done, output.size() - done); });
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (file.closeReporting() != 0 && error == 0) error = errno;
    if (error != 0) throw ToolRefusal(shown + " could not be written: " + systemErrorText(error) + ".");
}

int run(const tools::ToolArguments& arguments) {
    if (!arguments.operands().empty()) throw UsageError("unexpected argument " + arguments.operands()[0]);
    if (arguments.has("--encode") == arguments.has("--decode")) throw UsageError("give one of --encode and --decode");
    if (arguments.has("--encode") && arguments.has("--size")) throw UsageError("--size is for --decode");
    const Bytes input = readInput(arguments.value("-i").value_or(""));
    Bytes output;
    if (arguments.has("--encode")) {
        output = lzfseEncode(input);
    } else {
        std::optional<std::uint64_t> size = arguments.number("--size", 0, std::numeric_limits<std::int64_t>::max());
        if (!size) size = lzfse::declaredSize(input);
        if (!size) throw ToolRefusal("The input does not tell its decoded size; give --size.");
        try {
            output = lzfseDecode(input, static_cast<std::size_t>(*size));
        } catch (const LZFSEError&) {
            throw ToolRefusal("The input is not an LZFSE stream of " + std::to_string(*size) +
                              " bytes: it is damaged, cut short or something else.");
        }
    }
    writeOutput(arguments.value("-o").value_or(""), output);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const tools::ToolDescription tool{
        "wm-lzfse", kUsage, {{"--encode", false}, {"--decode", false}, {"-i", true}, {"-o", true}, {"--size", true}}};
    return tools::runTool(tool, argc, argv, run);
}
