#include <gtest/gtest.h>

#include <map>

#include "core/Hex.h"
#include "format/Fixtures.h"
#include "format/TreeObject.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using namespace TreeObject;
using Error = TreeObject::Error;

Entry fileA() {
    return {.name = bytesOf("a"),
            .mode = 0644,
            .uid = 501,
            .gid = 20,
            .modificationTime = {1700000000, 0},
            .changeTime = {1700000000, 0},
            .size = 0};
}

Entry everyField() {
    return {
        .name = Bytes{0xFF, 'n', 0x00, 0xC3},  // not UTF-8, with a NUL: names are bytes
        .entryType = EntryType::directory,
        .status = Status::unstable,
        .mode = 040755,
        .uid = 0xFFFFFFFF,
        .gid = 7,
        .modificationTime = {-5, 999999999},
        .changeTime = {INT64_MAX, 4000000000u},
        .birthTime = Timestamp{INT64_MIN, 1},
        .size = UINT64_MAX,
        .bsdFlags = 0x8000,
        .userName = "öwner",
        .groupName = "",
        .symlinkTarget = bytesOf("../elsewhere"),
        .hardlinkGroup = 42,
        .extendedAttributes = std::vector<ExtendedAttribute>{{bytesOf("user.x"), Bytes(300, 9)}, {Bytes{}, Bytes{}}},
        .acl = bytesOf("!#acl 1\nuser::rwx\n"),
        .sparseRanges = std::vector<SparseRange>{{0, 4096}, {UINT64_MAX, 1}},
        .contentBlobs = std::vector<BlobID>{test::blobFilled(1), test::blobFilled(2), test::blobFilled(1)},
        .childTree = test::blobFilled(0xEE)};
}

Bytes fromHex(std::string hex) {
    std::erase(hex, ' ');
    return *Hex::decode(hex);
}

// The stored bytes of an empty tree and of one plain file, from tests/data/format.
TEST(TreeObject, KnownEncodings) {
    const std::map<std::string, std::vector<Entry>> trees = {{"empty", {}}, {"one file", {fileA()}}};
    for (const auto& row : test::dataTable("format/tree-objects.tsv", 2)) {
        EXPECT_EQ(encode(trees.at(row[0])), fromHex(row[1])) << row[0];
        EXPECT_EQ(decode(fromHex(row[1])), trees.at(row[0])) << row[0];
    }
}

// Stored trees that lie, from tests/data/format: each gives its own error.
TEST(TreeObject, HostileBytesGiveTheirOwnErrors) {
    for (const auto& row : test::dataTable("format/tree-object-faults.tsv", 3))
        EXPECT_EQ(test::thrown<Error>([&] { decode(fromHex(row[1])); }).what(), row[2]) << row[0];
}

TEST(TreeObject, UndefinedPresenceBitsAreIgnored) {
    Entry e = fileA();
    e.size.reset();
    Bytes data = encode({e});
    for (std::uint8_t high : {0x10, 0xF0}) {  // bits 4096 to 32768
        data[5] = high;
        EXPECT_EQ(decode(data), std::vector<Entry>{e});
    }
}

// Names keep their bytes, text is repaired, empty lists stay present.
TEST(TreeObject, NamesKeepTheirBytesTextIsRepairedEmptyListsStayPresent) {
    Entry e = fileA();
    e.name = Bytes{'x', 0xFF, 'y'};
    e.userName = std::string("x\xFFy");
    e.extendedAttributes = std::vector<ExtendedAttribute>{};
    e.sparseRanges = std::vector<SparseRange>{};
    e.contentBlobs = std::vector<BlobID>{};
    const Entry back = decode(encode({e})).at(0);
    e.userName = "x\xEF\xBF\xBDy";
    EXPECT_EQ(back, e);
}

TEST(TreeObject, EveryFieldSurvivesARoundTrip) {
    std::vector<Entry> entries;
    for (auto type : allEntryTypes) {
        Entry e = fileA();
        e.entryType = type;
        entries.push_back(e);
    }
    for (auto status : allStatuses) {
        Entry e = fileA();
        e.status = status;
        entries.push_back(e);
    }
    entries.push_back(everyField());
    // Each optional field on its own, in the order of its presence bit.
    const Entry f = everyField();
    const auto only = [&](auto field) {
        Entry e = fileA();
        e.size.reset();
        e.*field = f.*field;
        return e;
    };
    unsigned bit = 0;
    for (const Entry& e : {only(&Entry::birthTime), only(&Entry::size), only(&Entry::bsdFlags), only(&Entry::userName),
                           only(&Entry::groupName), only(&Entry::symlinkTarget), only(&Entry::hardlinkGroup),
                           only(&Entry::extendedAttributes), only(&Entry::acl), only(&Entry::sparseRanges),
                           only(&Entry::contentBlobs), only(&Entry::childTree)}) {
        EXPECT_EQ(e.presence().rawValue, 1u << bit++);
        entries.push_back(e);
    }
    EXPECT_EQ(decode(encode(entries)), entries);
    EXPECT_EQ(f.presence().rawValue, 0x0FFF);
}

TEST(TreeObject, EncoderRefusesWhatItsFieldsCannotHold) {
    const std::pair<const char*, void (*)(Entry&)> rows[] = {
        {"name", [](Entry& e) { e.name = Bytes(65536, 'n'); }},
        {"userName", [](Entry& e) { e.userName = std::string(65536, 'u'); }},
        {"groupName", [](Entry& e) { e.groupName = std::string(65536, 'g'); }},
        {"symlinkTarget", [](Entry& e) { e.symlinkTarget = Bytes(65536, 's'); }},
        {"xattrs", [](Entry& e) { e.extendedAttributes = std::vector<ExtendedAttribute>(65536); }},
        {"xattr name",
         [](Entry& e) {
             e.extendedAttributes = std::vector<ExtendedAttribute>{{Bytes(65536, 'x'), {}}};
         }},
        {"sparseRanges", [](Entry& e) { e.sparseRanges = std::vector<SparseRange>(65536); }},
    };
    for (const auto& [field, make] : rows) {
        Entry e = fileA();
        make(e);
        const Error err = test::thrown<Error>([&] { encode({fileA(), e}); });
        EXPECT_EQ(std::pair(err.kind, err.field), std::pair(Error::Kind::fieldTooLarge, std::string(field)));
        EXPECT_EQ(test::thrown<Error>([&] { checkEncodable(e); }).field, field) << "refused ahead of encoding";
    }
    // The largest sizes that fit are accepted.
    Entry e = fileA();
    e.name = Bytes(65535, 'n');
    e.sparseRanges = std::vector<SparseRange>(65535);
    EXPECT_EQ(decode(encode({e})), std::vector<Entry>{e});
    checkEncodable(e);
}

}  // namespace
}  // namespace wm
