#pragma once
// The one sentence a development tool prints for a failure. The product's sentence where it
// has one (an error that words itself gives its own); the tool's own words for what the product leaves unworded (the
// pruner's refusals, an entry that cannot be examined, a damaged record, the standard library's failures); never the
// name of a type or a case.
#include <exception>
#include <string>

namespace wm::tools {

std::string failureSentence(const std::exception& error);

// True when the text carries an error's printable description ("Pruner.Error.noMark",
// "DestinationError.writeFailed", "std::..."), which no message of a tool may show.
bool namesAType(const std::string& text);

// A sentence of the product or the tool, or when it names a type the tool's sentence for a
// repository part that could not be read.
std::string readableSentence(const std::string& sentence);

}  // namespace wm::tools
