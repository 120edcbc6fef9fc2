#include "exit_statuses.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <string>

namespace {

/// The statuses that the deployment role explains: the keys of its exit_reasons map.
std::set<int> role_explained_statuses()
{
    std::ifstream vars(DEPLOY_ROLE_VARS);
    std::set<int> statuses;
    bool inMap = false;
    const std::regex entry("^  ([0-9]+):");
    for (std::string line; std::getline(vars, line);) {
        if (line.rfind("morrowlin_tesserak_exit_reasons:", 0) == 0) {
            inMap = true;
            continue;
        }
        if (inMap && !line.empty() && line[0] != ' ')
            break;
        std::smatch match;
        if (inMap && std::regex_search(line, match, entry))
            statuses.insert(std::stoi(match[1]));
    }
    return statuses;
}

} // namespace

TEST(ExitStatuses, TheDeploymentRoleExplainsEveryOneAndNoOther)
{
    const std::set<int> defined(std::begin(kTextModeStatuses), std::end(kTextModeStatuses));
    EXPECT_EQ(role_explained_statuses(), defined);
}
