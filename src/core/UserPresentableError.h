#pragma once
// How an error becomes something a person can read: one plain sentence saying what
// happened and what to do next, an optional recovery action, and the technical
// detail kept apart for reports.
#include <exception>
#include <optional>
#include <string>

#include "core/Date.h"
#include "core/Identifiers.h"

namespace wm {

// What the person can do about an error; shown as a button.
enum class RecoveryAction { tryAgain, reconnectDrive, enterSecretAgain, chooseAnotherFolder, freeUpSpace };

// The button text of an action, translated.
std::string recoveryActionLabel(RecoveryAction action);

// Implemented (alongside wm::Error) by an error that words itself.
class UserPresentableError {
public:
    virtual ~UserPresentableError() = default;
    // One plain sentence in the second person, already translated.
    virtual std::string userSentence() const = 0;
    virtual std::optional<RecoveryAction> recoveryAction() const { return std::nullopt; }
    // True when the same step may well succeed if tried again later.
    virtual bool isTransient() const { return false; }
};

struct PresentedError {
    enum class Category { storage, repository, restore, credentials, other };

    UUID id;
    std::string sentence;
    std::optional<RecoveryAction> recovery;
    std::string technicalDetail;
    bool isTransient = false;
    Date occurredAt;
    Category category = Category::other;

    // An error that words itself gives its own sentence and action; anything else
    // is described by its own text. The technical detail is always what().
    static PresentedError from(const std::exception& error, Category category = Category::other,
                               Date now = Date::now());
};

}  // namespace wm
