#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "policy/PhoneBackupInProgress.h"
#include "policy/PhoneBackups.h"
#include "policy/PropertyListScan.h"
#include "support/DataTable.h"
#include "support/ScopedEnvironment.h"
#include "support/TempFolder.h"

namespace {

using namespace wm;
using PhoneBackups::Backup;
using PhoneBackups::State;

const Date kNow = Date::fromSeconds(1796590835);
const std::string kHome = "/Users/me";
const std::string kRoot = kHome + "/Library/Application Support/MobileSync/Backup";

// Files and folders in memory; a folder listed in `unlistable` refuses its listing.
struct FakeFileManager final : FileManager {
    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> folders;
    std::set<std::string> unlistable;
    mutable std::atomic<int> reads{0};

    bool isDirectory(const std::string& path) const override { return folders.count(path) > 0; }
    std::optional<std::vector<std::string>> contents(const std::string& path) const override {
        if (unlistable.count(path) || !folders.count(path)) return std::nullopt;
        return folders.at(path);
    }
    std::optional<std::string> regularFileContents(const std::string& path, std::size_t max) const override {
        ++reads;
        auto it = files.find(path);
        if (it == files.end() || it->second.size() > max) return std::nullopt;
        return it->second;
    }
};

// An XML property list of one dictionary; values are written as given ("<string>x</string>").
std::string xml(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)" + body + "</dict></plist>";
}
std::string binary(const std::string& xmlText) {
    plist_t root = nullptr;
    plist_from_xml(xmlText.data(), static_cast<std::uint32_t>(xmlText.size()), &root);
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &out, &length);
    std::unique_ptr<char, void (*)(void*)> owned(out, std::free);
    plist_free(root);
    return std::string(out, length);
}

TEST(PhoneBackups, StateOfTheFolder) {
    FakeFileManager fm;
    EXPECT_EQ(PhoneBackups::state(kHome, fm), State::none());  // no folder (or a plain file in its place)
    fm.folders[kRoot] = {".DS_Store"};
    EXPECT_EQ(PhoneBackups::state(kHome, fm), State::none());
    fm.folders[kRoot] = {"b", ".x", "a"};
    EXPECT_EQ(PhoneBackups::state(kHome, fm), State::found({Backup{"a"}, Backup{"b"}}));
    fm.unlistable.insert(kRoot);
    EXPECT_EQ(PhoneBackups::state(kHome, fm), State::needsFullDiskAccess());
}

// phone-plists.tsv: the bodies of a device folder's Info.plist and Status.plist dictionaries
// ("-": no file; "raw:" starts bytes written as they are), then the device name, last-backup
// time in seconds since 1970 and whether it is in progress ("-": absent). Each case is read
// from XML and from binary property lists, with dates in a zone other than UTC.
TEST(PhoneBackups, ReadsNamesDatesAndStatusFromEitherForm) {
    const test::ScopedEnvironment zone("TZ", "America/New_York");
    for (bool useBinary : {false, true}) {
        for (const auto& row : test::dataTable("policy/phone-plists.tsv", 5)) {
            FakeFileManager fm;
            for (auto [name, body] : {std::pair{"/X/Info.plist", row[0]}, {"/X/Status.plist", row[1]}}) {
                if (body == "-") continue;
                fm.files[kRoot + name] = body.starts_with("raw:") ? body.substr(4)
                                         : useBinary              ? binary(xml(body))
                                                                  : xml(body);
            }
            const Backup expected{"X", row[2] == "-" ? std::nullopt : std::optional(row[2]),
                                  row[3] == "-" ? std::nullopt : std::optional(Date::fromSeconds(std::stod(row[3]))),
                                  row[4] == "yes"};
            EXPECT_EQ(PhoneBackups::read(kRoot + "/X", "X", fm), expected) << row[0] << " " << row[1] << useBinary;
        }
    }
}

// A binary property list of the given objects, object 0 at the top; offsets and references
// are four bytes wide.
std::string bigEndian(std::uint64_t value, int width) {
    std::string out;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
    return out;
}
std::string ref(std::size_t n) { return bigEndian(n, 4); }
std::string bplist(const std::vector<std::string>& objects) {
    std::string out = "bplist00", table;
    for (const auto& object : objects) {
        table += bigEndian(out.size(), 4);
        out += object;
    }
    const std::size_t tableAt = out.size();
    return out + table + std::string(6, '\0') + "\x04\x04" + bigEndian(objects.size(), 8) + bigEndian(0, 8) +
           bigEndian(tableAt, 8);
}

TEST(PhoneBackups, BinaryDatesThatNameNoMomentAreAbsent) {
    for (const double seconds : {std::nan(""), double{INFINITY}, -double{INFINITY}, 1e300, 3e9}) {
        std::uint64_t bits;
        std::memcpy(&bits, &seconds, sizeof bits);
        FakeFileManager fm;
        fm.files[kRoot + "/X/Info.plist"] =
            bplist({"\xD1" + ref(1) + ref(2), "\x5F\x10\x10Last Backup Date", "\x33" + bigEndian(bits, 8)});
        const auto read = PhoneBackups::read(kRoot + "/X", "X", fm).lastBackup;
        EXPECT_EQ(read, seconds == 3e9 ? std::optional(Date::fromSeconds(978307200 + 3e9)) : std::nullopt) << seconds;
    }
}

// Nesting past what the library can free is refused before it reads a byte, in either form
// and closed or not; a binary list whose shared references would expand to millions of
// nodes is refused too. The deepest nesting allowed is still read.
TEST(PhoneBackups, PropertyListsNestedTooDeepAreNoDictionary) {
    const std::string named = "<key>Device Name</key><string>Ann</string><key>x</key>";
    auto nestedXML = [&](std::size_t levels, bool closed) {
        std::string text = "<plist><dict>" + named;
        for (std::size_t i = 1; i < levels; ++i) text += "<array>";
        if (closed) {
            for (std::size_t i = 1; i < levels; ++i) text += "</array>";
            text += "</dict></plist>";
        }
        return text;
    };
    auto nestedBinary = [](std::size_t levels, int sharing) {
        std::vector<std::string> objects = {"\xD2" + ref(1) + ref(2) + ref(3) + ref(4),
                                            "\x5B" + std::string("Device Name"), "\x51x", "\x53" + std::string("Ann")};
        for (std::size_t i = 2; i < levels; ++i) {  // every array but the innermost
            std::string array(1, static_cast<char>(0xA0 + sharing));
            for (int k = 0; k < sharing; ++k) array += ref(objects.size() + 1);
            objects.push_back(array);
        }
        objects.push_back("\xA0");
        return bplist(objects);
    };
    std::string flat = "<plist><dict>" + named + "<array>";
    for (int i = 0; i < 10'000; ++i) flat += "<dict><key>q</key><string>a 5\" screen</string><true/></dict>";
    flat += "</array></dict></plist>";
    const std::size_t limit = PropertyListScan::deepestNesting;
    const std::pair<std::string, bool> cases[] = {
        {nestedXML(limit, true), true},      {nestedXML(limit, false), false},   {nestedXML(limit + 1, true), false},
        {nestedXML(200'000, true), false},   {nestedXML(200'000, false), false}, {nestedBinary(limit, 1), true},
        {nestedBinary(limit + 1, 1), false}, {nestedBinary(200'000, 1), false},  {nestedBinary(40, 2), false},
    };
    for (const auto& [bytes, readable] : cases) {
        FakeFileManager fm;
        fm.files[kRoot + "/X/Info.plist"] = bytes;
        EXPECT_EQ(PhoneBackups::read(kRoot + "/X", "X", fm).deviceName,
                  readable ? std::optional<std::string>("Ann") : std::nullopt)
            << bytes.size() << " bytes";
    }
}

TEST(PhoneBackups, StalenessAtItsThresholds) {
    const Backup exactly{"a", "Ann", kNow.adding(-5184000)}, past{"b", "Bob", kNow.adding(-5184001)}, undated{"c"};
    EXPECT_EQ(PhoneBackups::stale({exactly, undated}, kNow), std::nullopt);
    EXPECT_FALSE(Backup({"a", {}, kNow.adding(-2592000)}).isStale(kNow, 30));
    EXPECT_TRUE(Backup({"a", {}, kNow.adding(-2592001)}).isStale(kNow, 30));
    EXPECT_FALSE(undated.isStale(kNow, 0));

    const Backup old{"x", std::nullopt, kNow.adding(-1e8)};
    test::expectTexts("policy/phone-backups.tsv",
                      {{"stale.one", PhoneBackups::stale({old, exactly}, kNow)},
                       {"stale.two", PhoneBackups::stale({old, old}, kNow)},
                       {"stale.three", PhoneBackups::stale({Backup{"z", "Zed", kNow.adding(-1e8)}, old, past}, kNow)},
                       {"state.none", State::none().sentence()},
                       {"state.access", State::needsFullDiskAccess().sentence()},
                       {"state.zero", State::found({}).sentence()},
                       {"state.one", State::found({old}).sentence()},
                       {"state.two", State::found({old, old}).sentence()},
                       {"why", PhoneBackups::why()},
                       {"whileWriting", PhoneBackups::whileWriting()}});
}

TEST(PhoneBackupInProgress, SkipsUnfinishedDeviceBackupsAnsweringFromTheCache) {
    FakeFileManager fm;
    fm.files[kRoot + "/Done/Status.plist"] = xml("<key>SnapshotState</key><string>finished</string>");
    PhoneBackupInProgress progress(kHome, fm);
    EXPECT_FALSE(progress.shouldSkip({}, kRoot));
    EXPECT_FALSE(progress.shouldSkip({}, kRoot + "/"));
    EXPECT_FALSE(progress.shouldSkip({"Documents", "a"}, kHome));
    EXPECT_FALSE(progress.shouldSkip({"Library", "Application Support", "MobileSync", "Backup2", "X"}, kHome));
    EXPECT_EQ(fm.reads, 0);

    EXPECT_TRUE(progress.shouldSkip({"Library", "Application Support", "MobileSync", "Backup", "X", "f"}, kHome));
    EXPECT_EQ(fm.reads, 1);
    EXPECT_TRUE(progress.shouldSkip({"f2"}, kRoot + "/X"));
    EXPECT_TRUE(progress.shouldSkip({"X"}, kRoot + "//"));
    EXPECT_EQ(fm.reads, 1);  // answered from the cache
    EXPECT_FALSE(progress.shouldSkip({"Done", "a", "b"}, kRoot));
    EXPECT_EQ(fm.reads, 2);

    // Several scanning threads at once get the same answers.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                wrong += !progress.shouldSkip({"D" + std::to_string(i % 50), "f"}, kRoot) +
                         progress.shouldSkip({"f"}, kRoot + "/Done");
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(fm.reads, 2 + 8 * 50);
}

TEST(PhoneBackups, ReadsOnlyRegularFilesUpToTheCap) {
    test::TempFolder home("wm-phone");
    const auto device = home / "Library/Application Support/MobileSync/Backup/X";
    home.writeFile(device / "Info.plist", xml("<key>Device Name</key><string>Ann</string>"));
    ASSERT_EQ(::mkfifo((device / "Status.plist").c_str(), 0600), 0);  // would block a plain open
    EXPECT_EQ(PhoneBackups::state(home.string()), State::found({Backup{"X", "Ann"}}));
    std::filesystem::resize_file(device / "Info.plist", (std::uint64_t{4} << 30) + 1);  // sparse, 4 GiB + 1
    EXPECT_EQ(PhoneBackups::read(device.string(), "X"), Backup{"X"});
}

}  // namespace
