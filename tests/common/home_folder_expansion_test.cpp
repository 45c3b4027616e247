#include "common/home_folder_expansion.h"

#include <gtest/gtest.h>

#include <string>

namespace brisel::common {
namespace {

TEST(ExpandHomeFolder, ReplacesOnlyALeadingTildeAloneOrBeforeASlash) {
    struct Row {
        const char* label;
        const char* path;
        const char* home;
        std::string expanded;
    };
    const Row rows[] = {
        {"tilde alone", "~", "/home/ada", "/home/ada"},
        {"tilde alone keeps the home as given", "~", "/home/ada/", "/home/ada/"},
        {"below home", "~/src/brisel", "/home/ada", "/home/ada/src/brisel"},
        {"trailing slash of home", "~/work", "/home/ada/", "/home/ada/work"},
        {"home with a space", "~/sub folder", "/home/a da", "/home/a da/sub folder"},
        {"tilde and slash", "~/", "/home/ada", "/home/ada/"},
        {"a second slash stays under home", "~//etc", "/home/ada", "/home/ada//etc"},
        {"home is the root", "~/work", "/", "/work"},
        {"another user's home", "~ada/work", "/home/bob", "~ada/work"},
        {"tilde inside", "/srv/~/work", "/home/ada", "/srv/~/work"},
        {"relative", "work/~", "/home/ada", "work/~"},
        {"empty", "", "/home/ada", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(expandHomeFolder(row.path, row.home), row.expanded) << row.label;
    }
}

}  // namespace
}  // namespace brisel::common
