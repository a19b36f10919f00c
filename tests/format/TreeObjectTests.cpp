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

Error decodeError(const Bytes& data) {
    return test::thrown<Error>([&] { decode(data); });
}

// The stored bytes of an empty tree and of one plain file, from tests/data/format.
TEST(TreeObject, KnownEncodingsAndTrailingBytes) {
    const std::map<std::string, std::vector<Entry>> trees = {{"empty", {}}, {"one file", {fileA()}}};
    for (const auto& row : test::dataTable("format/tree-objects.tsv", 2)) {
        std::string hex = row.at(1);
        std::erase(hex, ' ');
        const Bytes expected = *Hex::decode(hex);
        EXPECT_EQ(encode(trees.at(row[0])), expected) << row[0];
        EXPECT_EQ(decode(expected), trees.at(row[0])) << row[0];
        Bytes longer = expected;
        longer.push_back(0);
        const Error e = decodeError(longer);
        EXPECT_EQ(std::pair(e.kind, e.count), std::pair(Error::Kind::unexpectedTrailingBytes, std::int64_t{1}))
            << row[0];
    }
    EXPECT_EQ(decodeError({}).kind, Error::Kind::truncated);
}

TEST(TreeObject, EntryCountIsCheckedAgainstTheRemainingBytes) {
    Bytes data{1, 0, 0, 0};
    data.resize(4 + 41);
    EXPECT_EQ(decodeError(data).field, "entryCount");
    data.resize(4 + 42);  // passes the count check, then is read field by field: type byte 0
    EXPECT_EQ(decodeError(data).kind, Error::Kind::invalidEntryType);
    EXPECT_EQ(decodeError(Bytes{0xFF, 0xFF, 0xFF, 0xFF}).field, "entryCount");
}

TEST(TreeObject, HostileBytesGiveTheirOwnErrors) {
    const Bytes good = encode({fileA()});
    struct Row {
        const char* what;
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
        Error::Kind kind;
        int byte;
    };
    const Row rows[] = {
        {"type 0", 6, {0}, Error::Kind::invalidEntryType, 0},
        {"type 8", 6, {8}, Error::Kind::invalidEntryType, 8},
        {"type 255", 6, {255}, Error::Kind::invalidEntryType, 255},
        {"status 3", 7, {3}, Error::Kind::invalidStatus, 3},
        {"name longer than the data", 8, {0xFF, 0xFF}, Error::Kind::truncated, -1},
        {"presence asks for a child tree that is not there", 4, {0x02, 0x08}, Error::Kind::truncated, -1},
    };
    for (const auto& r : rows) {
        Bytes data = good;
        std::copy(r.bytes.begin(), r.bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(r.offset));
        const Error e = decodeError(data);
        EXPECT_EQ(e.kind, r.kind) << r.what;
        if (r.byte >= 0) {
            EXPECT_EQ(e.byte, r.byte) << r.what;
        }
    }
}

TEST(TreeObject, ImplausibleInnerCountsAreRefusedBeforeAllocating) {
    struct Row {
        std::uint16_t presence;
        Bytes tail;
        const char* field;
    };
    const Row rows[] = {
        {FieldPresence::extendedAttributes, {0xFF, 0xFF}, "xattrCount"},
        {FieldPresence::sparseRanges,
         {0x02, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         "sparseRangeCount"},
        {FieldPresence::contentBlobs, {0xFF, 0xFF, 0xFF, 0xFF}, "contentBlobCount"},
    };
    for (const auto& r : rows) {
        Entry e = fileA();
        e.size.reset();
        Bytes data = encode({e});
        data[4] = static_cast<std::uint8_t>(r.presence);
        data[5] = static_cast<std::uint8_t>(r.presence >> 8);
        data.insert(data.end(), r.tail.begin(), r.tail.end());
        const Error err = decodeError(data);
        EXPECT_EQ(err.kind, Error::Kind::lengthOutOfRange) << r.field;
        EXPECT_EQ(err.field, r.field);
    }
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
    struct Row {
        const char* field;
        void (*make)(Entry&);
    };
    const Row rows[] = {
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
    for (const auto& r : rows) {
        Entry e = fileA();
        r.make(e);
        const Error err = test::thrown<Error>([&] { encode({fileA(), e}); });
        EXPECT_EQ(std::pair(err.kind, err.field), std::pair(Error::Kind::fieldTooLarge, std::string(r.field)));
    }
    // The largest sizes that fit are accepted.
    Entry e = fileA();
    e.name = Bytes(65535, 'n');
    e.sparseRanges = std::vector<SparseRange>(65535);
    EXPECT_EQ(decode(encode({e})), std::vector<Entry>{e});
}

}  // namespace
}  // namespace wm
