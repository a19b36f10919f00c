#pragma once
// The decoded size an LZFSE stream declares: the sum of its blocks' sizes, read from the
// block headers alone. A stream carries no total of its own; tools that decode a stream
// of unknown origin use this to size their output.
#include <cstdint>
#include <optional>

#include "core/Bytes.h"

namespace wm::lzfse {

// Nothing when the headers cannot be walked to the end-of-stream marker: a header cut
// short, an unknown magic, a block that would not lie inside the input or would not move
// the walk forward, or a block that claims more output than its kind can produce from
// its bytes. A size given here can still turn out wrong when the blocks are decoded.
std::optional<std::uint64_t> declaredSize(ByteView stream);

}  // namespace wm::lzfse
