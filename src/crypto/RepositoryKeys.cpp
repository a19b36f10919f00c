#include "crypto/RepositoryKeys.h"

#include "crypto/KeyDerivation.h"

namespace wm {

namespace {

SymmetricKey purposeKey(const SymmetricKey& master, const RepositoryID& id, std::string_view purpose) {
    return KeyDerivation::hkdfKey(master.view(), id.view(), purpose);
}

}  // namespace

RepositoryKeys::RepositoryKeys(const SymmetricKey& master_, const RepositoryID& repositoryID_)
    : master(master_),
      repositoryID(repositoryID_),
      identityKey(purposeKey(master_, repositoryID_, identityPurpose)),
      blobKey(purposeKey(master_, repositoryID_, blobPurpose)),
      metadataKey(purposeKey(master_, repositoryID_, metadataPurpose)),
      signing(purposeKey(master_, repositoryID_, signingPurpose).view()) {}

}  // namespace wm
