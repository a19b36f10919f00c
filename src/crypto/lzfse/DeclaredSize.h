#pragma once
// The decoded size an LZFSE stream declares: the sum of its blocks' sizes, read from the
// block headers alone. A stream carries no total of its own; whoever is handed a size for a
// stream of unknown origin asks this before making room for it.
#include <cstdint>
#include <optional>

#include "core/Bytes.h"

namespace wm::lzfse {

// Nothing when the headers cannot be walked to the end-of-stream marker: a header cut
// short, an unknown magic, a block that would not lie inside the input or would not move
// the walk forward, or a block that claims more output than its kind can produce from
// its bytes. A size given here can still turn out wrong when the blocks are decoded, but
// a stream that decodes always declares exactly the size it decodes to.
std::optional<std::uint64_t> declaredSize(ByteView stream);

// The most output a block can give, from the fields of its header: an LZVN block from its
// payload, an LZFSE block from its literal and triple counts and the bytes of its triple
// payload (each triple's match beyond 15 bytes costs payload bits). The decoder refuses a
// block that claims more, before making room for it.
std::uint64_t lzvnOutputBound(std::uint64_t payloadSize);
std::uint64_t lzfseOutputBound(std::uint64_t literals, std::uint64_t matches, std::uint64_t matchPayloadSize);

}  // namespace wm::lzfse
