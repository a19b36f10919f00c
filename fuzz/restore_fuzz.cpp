// A restore of a hostile snapshot: the input is the top tree object, and every tree or
// content blob it names by a small identity (first byte k, the rest zero) is served: k = 1
// is content, k = 2 the top tree again (a cycle), k = 3 a folder holding a link to outside,
// k = 4 a tree holding a folder named like that link. Whatever the walk does, nothing
// outside the target may change, and the process must not crash or hang.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "format/TreeObject.h"
#include "restore/RestoreBlobSource.h"
#include "restore/RestoreCoordinator.h"

namespace {

namespace fs = std::filesystem;
using namespace wm;

BlobID small(std::uint8_t k) {
    BlobID id;
    id.bytes[0] = k;
    return id;
}

TreeObject::Entry entry(std::string name, TreeObject::EntryType type) {
    TreeObject::Entry e;
    e.name = bytesOf(name);
    e.entryType = type;
    e.mode = type == TreeObject::EntryType::directory ? 0755 : 0644;
    return e;
}

class Source : public RestoreBlobSource {
public:
    Source(ByteView top, const fs::path& outside) : top_(top.begin(), top.end()) {
        auto link = entry("x", TreeObject::EntryType::symlink);
        link.symlinkTarget = bytesOf(outside.string());
        withLink_ = TreeObject::encode({link});
        auto folder = entry("x", TreeObject::EntryType::directory);
        folder.childTree = small(5);
        throughLink_ = TreeObject::encode({link, folder});
        auto file = entry("secret", TreeObject::EntryType::file);
        file.contentBlobs = std::vector<BlobID>{small(1)};
        file.size = 7;
        leaf_ = TreeObject::encode({file});
    }
    Record record(const SnapshotID&) override { return {small(2).data(), 0}; }
    void blob(const BlobID& id, Bytes& buffer) override {
        for (std::size_t i = 1; i < id.bytes.size(); ++i)
            if (id.bytes[i] != 0) throw wm::Error("no such blob");
        switch (id.bytes[0]) {
        case 1: buffer = bytesOf("content"); return;
        case 2: buffer = top_; return;
        case 3: buffer = withLink_; return;
        case 4: buffer = throughLink_; return;
        case 5: buffer = leaf_; return;
        default: throw wm::Error("no such blob");
        }
    }

private:
    Bytes top_, withLink_, throughLink_, leaf_;
};

struct Scratch {
    fs::path root, outside, target;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "wm-restore-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        root = pattern;
        outside = root / "outside";
        target = root / "target";
        fs::create_directory(outside);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Scratch scratch;
    Source source(ByteView(data, size), scratch.outside);
    try {
        RestoreCoordinator().restore(SnapshotID{}, source, scratch.target, {});
    } catch (const TreeObject::Error&) {
    }
    // Nothing may have been written beside the target.
    if (!fs::is_empty(scratch.outside)) std::abort();
    for (const auto& item : fs::directory_iterator(scratch.root))
        if (item.path() != scratch.outside && item.path() != scratch.target) std::abort();
    std::error_code ec;
    fs::remove_all(scratch.target, ec);
    return 0;
}
