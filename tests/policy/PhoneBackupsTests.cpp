#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "CaseTable.h"
#include "policy/PhoneBackupInProgress.h"
#include "policy/PhoneBackups.h"
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

// phone-plists.txt: the bodies of a device folder's Info.plist and Status.plist dictionaries
// ("-": no file; "raw:" starts bytes written as they are), then the device name, last-backup
// time in seconds since 1970 and whether it is in progress ("-": absent). Each case is read
// from XML and from binary property lists, with dates in a zone other than UTC.
TEST(PhoneBackups, ReadsNamesDatesAndStatusFromEitherForm) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    for (bool useBinary : {false, true}) {
        for (const auto& row : test::caseTable("phone-plists.txt", 5)) {
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
    unsetenv("TZ");
    tzset();
}

TEST(PhoneBackups, StalenessAtItsThresholds) {
    const Backup exactly{"a", "Ann", kNow.adding(-5184000)}, past{"b", "Bob", kNow.adding(-5184001)}, undated{"c"};
    EXPECT_EQ(PhoneBackups::stale({exactly, undated}, kNow), std::nullopt);
    EXPECT_FALSE(Backup({"a", {}, kNow.adding(-2592000)}).isStale(kNow, 30));
    EXPECT_TRUE(Backup({"a", {}, kNow.adding(-2592001)}).isStale(kNow, 30));
    EXPECT_FALSE(undated.isStale(kNow, 0));

    const Backup old{"x", std::nullopt, kNow.adding(-1e8)};
    test::expectTexts("phone-backups.txt",
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

TEST(PhoneBackups, InsideOrIs) {
    const std::tuple<const char*, const char*, bool> cases[] = {{"/a/b", "/a/b/", true},
                                                                {"/a/bc", "/a/b", false},
                                                                {"/a/b/c", "/a/b", true},
                                                                {"/a", "/", true},
                                                                {"/a/b", "/a/b//", false}};
    for (auto [path, folder, inside] : cases)
        EXPECT_EQ(PhoneBackups::isInsideOrIs(path, folder), inside) << path << " in " << folder;
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
