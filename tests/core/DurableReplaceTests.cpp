// Whole-file writes that a crash leaves whole or absent.
#include "core/DurableReplace.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <gtest/gtest.h>

namespace wm {
namespace {

namespace fs = std::filesystem;

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A new file appears whole and alone; a file already at the name is never written over and
// the refusal says so (EEXIST); a folder that is not there leaves nothing anywhere.
TEST(DurableReplace, ACreatedFileIsWholeAloneAndNeverOverAnother) {
    const fs::path folder = fs::temp_directory_path() / ("wm-durable-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    createFileDurably(folder / "key.txt", viewOf("first\n"));
    EXPECT_EQ(contentsOf(folder / "key.txt"), "first\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
    try {
        createFileDurably(folder / "key.txt", viewOf("second\n"));
        ADD_FAILURE() << "written over";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EEXIST);
    }
    EXPECT_EQ(contentsOf(folder / "key.txt"), "first\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
    EXPECT_THROW(createFileDurably(folder / "missing" / "key.txt", viewOf("x")), std::system_error);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace wm
