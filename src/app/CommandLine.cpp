#include "app/CommandLine.h"

#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "app/RestoreAppModel.h"
#include "app/TextTrimming.h"
#include "core/Unicode.h"

namespace wm::CommandLine {

namespace {

constexpr const char* kSelfCheck = "--self-check";
constexpr const char* kHeadless = "--headless-restore";
constexpr const char* kScreenshots = "--screenshots";

std::string problemOrNoReason(const std::optional<std::string>& problem) {
    return problem ? *problem : std::string("no reason given");
}

}  // namespace

Mode choose(const std::vector<std::string>& arguments) {
    Mode mode;
    for (const auto& argument : arguments) {
        if (argument == kSelfCheck) {
            mode.kind = Mode::Kind::selfCheck;
            return mode;
        }
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != kHeadless) continue;
        // Only the first occurrence counts; with fewer than three arguments after it
        // the mode is passed over.
        if (i + 3 < arguments.size()) {
            mode.kind = Mode::Kind::headlessRestore;
            mode.backupFolder = arguments[i + 1];
            mode.targetFolder = arguments[i + 2];
            mode.secretFile = arguments[i + 3];
            return mode;
        }
        break;
    }
    for (std::size_t j = 0; j < arguments.size(); ++j) {
        if (arguments[j] != kScreenshots) continue;
        if (j + 1 < arguments.size()) {
            mode.kind = Mode::Kind::screenshots;
            mode.screenshotFolder = arguments[j + 1];
            return mode;
        }
        break;
    }
    return mode;
}

int runSelfCheck(std::ostream& out, std::ostream& err) {
    const std::string& sentence = RestoreAppModel::wrongSecretSentence();
    if (sentence.find("passphrase") != std::string::npos && sentence.find("recovery key") != std::string::npos) {
        out << "Wendle Marsh Restore " << RestoreAppModel::appVersion << ": starts, sentences resolve\n";
        out.flush();
        return 0;
    }
    err << "resource bundles did not resolve: " << sentence << "\n";
    err.flush();
    return 1;
}

std::string readSecretFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "";
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) return "";
    const std::string text = contents.str();
    if (!Unicode::isValidUTF8(viewOf(text))) return "";
    return TextTrimming::whitespaceAndNewlines(text);
}

int runHeadlessRestore(const Mode& mode, std::ostream& out, std::ostream& err) {
    RestoreAppModel model;
    model.setBackupPath(mode.backupFolder);
    model.setRestoreInto(mode.targetFolder);
    model.setSecret(readSecretFile(mode.secretFile));

    model.open();
    if (model.phase().kind != RestoreAppModel::Phase::Kind::open) {
        err << "could not open: " << problemOrNoReason(model.problem()) << "\n";
        err.flush();
        return 1;
    }

    model.restore();
    const RestoreAppModel::Phase phase = model.phase();
    if (phase.kind == RestoreAppModel::Phase::Kind::finished && phase.result.isComplete()) {
        out << "restored " << phase.result.filesRestored << " files, " << phase.result.directoriesRestored
            << " folders\n";
        out.flush();
        return 0;
    }
    err << "restore failed: " << problemOrNoReason(model.problem()) << "\n";
    err.flush();
    return 1;
}

}  // namespace wm::CommandLine
