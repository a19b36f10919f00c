#include "status/TimeMachineComparison.h"

#include "core/Localization.h"

namespace wm::TimeMachineComparison {

const std::vector<Row>& rows() {
    static const std::vector<Row> table{
        {WM_L("Space needed"), WM_L("About what your files take, less what repeats"),
         WM_L("Refuses a disk it thinks is too small, judged by whole disk size, not by what is on it"), false},
        {WM_L("Where it can go"), WM_L("Any folder: a drive, a NAS, or a cloud folder you already pay for"),
         WM_L("A disk it formats, or a supported network share"), false},
        {WM_L("More than one copy"), WM_L("As many as you like, each checked separately"),
         WM_L("Several disks, used in rotation"), false},
        {WM_L("Knowing it worked"), WM_L("Reads the backup back on a schedule and says what it found"),
         WM_L("Verifies network backups occasionally and tells you little"), false},
        {WM_L("Encryption"), WM_L("Always, and not a setting: there is no way to make an unencrypted one"),
         WM_L("A tick box when you choose the disk, with a password you set then"), false},
        {WM_L("Restoring a whole Mac"), WM_L("Restores your files onto a fresh macOS"),
         WM_L("Migration Assistant restores from it directly during setup"), true},
        {WM_L("Local snapshots"), WM_L("None: it backs up to somewhere else"),
         WM_L("Keeps hourly snapshots on the Mac itself, useful before a backup runs"), true},
    };
    return table;
}

const std::string& preamble() {
    static const std::string sentence = WM_L(
        "Written by the people who make Wendle Marsh, so read it accordingly. Time Machine is genuinely better at "
        "some of this and those rows say so.");
    return sentence;
}

const std::string& bothIsFine() {
    static const std::string sentence = WM_L(
        "Running both is a reasonable thing to do. Time Machine on a drive at home and Wendle Marsh to a cloud "
        "folder covers more than either does alone, and Wendle Marsh never touches Time Machine's disk.");
    return sentence;
}

}  // namespace wm::TimeMachineComparison
