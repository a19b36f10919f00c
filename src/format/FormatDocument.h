#pragma once
// The repository format document, compiled into the program from
// "docs/Repository Format.md" by the build (see this folder's CMakeLists.txt).
#include "core/Bytes.h"

namespace wm {

// Empty when the build had no document to embed.
ByteView embeddedFormatDocument();

}  // namespace wm
