#pragma once
// Rebuilds the whole in-memory index from the pack files of a destination, for when the
// index files cannot supply it.
#include "crypto/BlobCipher.h"
#include "format/RepositoryIndex.h"
#include "storage/Destination.h"

namespace wm {

// Reads, verifies and opens the directory of every file packs/<xx>/<hex>.pack, in the
// destination's listing order; a blob held by several packs keeps the pack met first.
// A pack that does not validate is passed over silently, as are files whose names are not
// a hex id followed by ".pack" and plain files lying directly in "packs". Listing and
// reading errors of the destination propagate and end the rebuild.
RepositoryIndex rebuildIndex(Destination& destination, const BlobCipher& cipher);

}  // namespace wm
