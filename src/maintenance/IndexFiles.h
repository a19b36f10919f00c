#pragma once
// Reading a destination's index files as a repository's opening reads them, for maintenance
// that must know what every index file there names (also those written by another writer).
#include <cstdint>
#include <functional>
#include <vector>

#include "crypto/BlobCipher.h"
#include "format/IndexFile.h"
#include "storage/Destination.h"

namespace wm {

// The largest index file an opening reads; a larger one is passed over unread.
inline constexpr std::int64_t largestIndexFileBytes = std::int64_t{2} << 30;

// Calls body with the sections of each "*.idx" file under index/ that opens, in listing order,
// until body returns false. Files an opening passes over (no size, too large, not opening or
// decoding) are passed over here too; a listing or read error is thrown.
void forEachIndexFile(Destination& destination, const BlobCipher& cipher,
                      const std::function<bool(const std::vector<IndexFile::Section>&)>& body);

}  // namespace wm
