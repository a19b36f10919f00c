#include "policy/StoredForm.h"

namespace wm::StoredForm {

std::vector<std::string> texts(const JSON& value, std::string_view path) {
    return each(value, path, [](const JSON& text, const std::string& at) { return RepositoryJSON::text(text, at); });
}

std::set<std::string> textSet(const JSON& value, std::string_view path) {
    auto list = texts(value, path);
    return {std::make_move_iterator(list.begin()), std::make_move_iterator(list.end())};
}

JSON array(const std::set<std::string>& values) { return RepositoryJSON::textArray({values.begin(), values.end()}); }

}  // namespace wm::StoredForm
