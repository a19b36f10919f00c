#pragma once
// The cryptographic library refused an operation that cannot fail with valid arguments
// (memory exhausted, a broken installation). Never caused by outside data.
#include <string>

#include "core/Error.h"
#include "core/ErrorDescription.h"

namespace wm {

class CryptoFailure : public wm::Error {
public:
    explicit CryptoFailure(const std::string& operation_)
        : wm::Error(ErrorDescription("CryptoFailure", "libraryFailed").quoted("operation", operation_)),
          operation(operation_) {}
    std::string operation;  // the library call that failed
};

}  // namespace wm
