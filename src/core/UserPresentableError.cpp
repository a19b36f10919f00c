#include "core/UserPresentableError.h"

#include "core/Localization.h"

namespace wm {

std::string recoveryActionLabel(RecoveryAction action) {
    switch (action) {
    case RecoveryAction::tryAgain: return WM_L("Try Again");
    case RecoveryAction::reconnectDrive: return WM_L("Reconnect the Drive");
    case RecoveryAction::enterSecretAgain: return WM_L("Enter It Again");
    case RecoveryAction::chooseAnotherFolder: return WM_L("Choose Another Folder");
    case RecoveryAction::freeUpSpace: return WM_L("Free Up Space");
    }
    return WM_L("Try Again");
}

PresentedError PresentedError::from(const std::exception& error, Category category, Date now) {
    PresentedError presented;
    presented.id = UUID::random();
    presented.technicalDetail = error.what();
    presented.occurredAt = now;
    presented.category = category;
    if (const auto* own = dynamic_cast<const UserPresentableError*>(&error)) {
        presented.sentence = own->userSentence();
        presented.recovery = own->recoveryAction();
        presented.isTransient = own->isTransient();
    } else {
        presented.sentence = error.what();
    }
    return presented;
}

}  // namespace wm
