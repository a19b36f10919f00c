#pragma once
// The extension of a path's last component, as a file browser reads it: the text after
// the last "." of the name ("tar.gz" gives "gz"). A name that only begins with a dot
// (".bashrc") or has no dot has none; trailing "/" are ignored.
#include <string>
#include <string_view>

namespace wm {

std::string_view pathExtension(std::string_view path);
// The same, lower-cased by Unicode's rules without regard to any language.
std::string lowercasePathExtension(std::string_view path);

}  // namespace wm
