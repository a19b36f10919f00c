#pragma once
// What one restore hands back: how much was put back, what was passed over by rule,
// what failed, and what came back without some of its metadata. Every path and name in a
// record is shown text of at most Unicode::shownTextBytes and "…".
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wm {

// The records of one kind a restore appends: the first `kept` of them, in order, and the
// number of all. A backup can make a walk meet the same failing entries millions of times;
// the list stays small whatever it meets.
template <typename Record>
class RestoreRecords {
public:
    static constexpr std::size_t kept = 1000;

    RestoreRecords() = default;
    RestoreRecords(std::initializer_list<Record> records) {
        for (const Record& record : records) push_back(record);
    }

    void push_back(Record record) {
        ++total_;
        if (records_.size() < kept) records_.push_back(std::move(record));
    }
    // Every record appended, also those not kept.
    std::uint64_t total() const { return total_; }
    bool empty() const { return total_ == 0; }
    // The records kept, at most `kept`.
    std::size_t size() const { return records_.size(); }
    const Record& operator[](std::size_t i) const { return records_[i]; }
    Record& operator[](std::size_t i) { return records_[i]; }
    auto begin() const { return records_.begin(); }
    auto end() const { return records_.end(); }

protected:
    // Counts a record held apart from those kept.
    void countApart() { ++total_; }

private:
    std::vector<Record> records_;
    std::uint64_t total_ = 0;
};

struct RestoreResult {
    struct Skipped {
        std::string path;  // the entry's display text
        std::string reason;
    };
    struct Failure {
        std::string path;
        std::string reason;
    };
    struct Unpreserved {
        std::string path;
        // "metadata" when the metadata could not be applied at all, "content" when the
        // file changed while it was backed up (what came back is what the backup holds),
        // otherwise one of "ownership", "extendedAttributes", "acl", "modificationTime",
        // "creationTime", "bsdFlags", "mode".
        std::string attribute;
        std::string reason;
    };
    // Failure records and, apart from them, the failure with which the walk stopped early
    // because the backup leads it further than it counts: that one is kept whatever the cap,
    // counted once in total(), and listed first, since it says why the rest of the backup was
    // never reached.
    class FailureRecords : public RestoreRecords<Failure> {
    public:
        using RestoreRecords::RestoreRecords;
        void setStop(Failure record) {
            if (!stop_) countApart();
            stop_ = std::move(record);
        }
        const std::optional<Failure>& stop() const { return stop_; }
        // The stop first, then the records kept, in order: the order in which a report lists them.
        std::vector<const Failure*> listed() const {
            std::vector<const Failure*> out;
            out.reserve(size() + 1);
            if (stop_) out.push_back(&*stop_);
            for (const Failure& record : *this) out.push_back(&record);
            return out;
        }

    private:
        std::optional<Failure> stop_;
    };
    // Unpreserved records, which also keep every attribute named, by records kept or not:
    // the report names each attribute once, and there are only the few above.
    class UnpreservedRecords : public RestoreRecords<Unpreserved> {
    public:
        UnpreservedRecords() = default;
        UnpreservedRecords(std::initializer_list<Unpreserved> records) {
            for (const Unpreserved& record : records) push_back(record);
        }
        void push_back(Unpreserved record) {
            attributes_.insert(record.attribute);
            RestoreRecords::push_back(std::move(record));
        }
        // Ascending.
        const std::set<std::string>& attributes() const { return attributes_; }

    private:
        std::set<std::string> attributes_;
    };

    std::uint64_t filesRestored = 0;
    std::uint64_t directoriesRestored = 0;
    std::uint64_t symlinksRestored = 0;
    std::uint64_t hardLinksRestored = 0;
    RestoreRecords<Skipped> skipped;
    FailureRecords failures;
    UnpreservedRecords unpreserved;

    // Nothing failed; skipped and unpreserved entries do not count against it.
    bool isComplete() const { return failures.empty(); }
};

}  // namespace wm
