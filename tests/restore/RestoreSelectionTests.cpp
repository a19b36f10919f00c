#include "restore/RestoreSelection.h"

#include <gtest/gtest.h>

#include "support/DataTable.h"

namespace wm {
namespace {

using Path = RestoreSelection::Path;

Path pathOf(const std::string& text) { return text.empty() ? Path{} : test::split(text, '/'); }

RestoreSelection built(const std::string& steps) {
    RestoreSelection s;
    for (const auto& step : steps.empty() ? std::vector<std::string>{} : test::split(steps, ' ')) {
        const Path path = pathOf(step.substr(1));
        if (step[0] == '+') s.add(path);
        if (step[0] == '-') s.remove(path);
        if (step[0] == '=') s.paths.push_back(path);
    }
    return s;
}

TEST(RestoreSelection, TicksPathsAndSentences) {
    test::expectAnswers("restore/selection.tsv",
                        {{"ticked",
                          [](const std::string& input) {
                              const auto at = input.find('>');
                              const RestoreSelection s = built(input.substr(0, at));
                              const Path path = pathOf(input.substr(at + 1));
                              const char* ticks[] = {"no", "partly", "yes"};
                              return ticks[int(s.tick(path))] + std::string(s.wants(path) ? " wanted" : "") +
                                     (s.includes(path) ? " walked" : "");
                          }},
                         {"paths",
                          [](const std::string& steps) {
                              std::string out;
                              for (const auto& path : built(steps).paths) {
                                  out += out.empty() ? "" : " ";
                                  for (const auto& name : path) out += "/" + name;
                                  if (path.empty()) out += "/";
                              }
                              return out;
                          }},
                         {"sentence", [](const std::string& steps) { return built(steps).sentence(); }}});
    RestoreSelection many;
    for (int i = 0; i < 1235; ++i) many.add({"f" + std::to_string(i)});
    EXPECT_EQ(many.sentence(), "1,235 items");
}

}  // namespace
}  // namespace wm
