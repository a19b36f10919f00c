#pragma once
// What tests do to a repository that no caller may: change its in-memory index directly, as a
// damaged or outdated index would leave it.
#include <utility>

#include "engine/Repository.h"

namespace wm {

struct RepositoryTestAccess {
    template <class Body>
    static decltype(auto) modifyIndex(Repository& repository, Body&& body) {
        return repository.modifyIndex(std::forward<Body>(body));
    }
};

}  // namespace wm
