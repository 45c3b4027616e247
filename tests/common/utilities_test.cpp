#include "common/utilities.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>

#include "common/json_codec.h"  // with utilities.h in one unit: one AnyEncodable in the process
#include "support/temporary_folder.h"

namespace brisel::common {
namespace {

TEST(CrossPlatformSleepTest, BlocksForTheIntervalAndIgnoresNonsense) {
    auto start = std::chrono::steady_clock::now();
    crossPlatformSleep(0.05);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    crossPlatformSleep(0);
    crossPlatformSleep(-3);
    crossPlatformSleep(std::nan(""));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(CpuTypeTest, AnswersOfTheTranslationQueryMapToKinds) {
    EXPECT_EQ(currentCPU(), CPUType::APPLE_INTEL);  // Linux: no such query
    EXPECT_FALSE(isM1());
    struct Row {
        const char* label;
        tl::expected<std::int64_t, int> answer;
        CPUType expected;
    };
    const Row rows[] = {
        {"translated", 1, CPUType::APPLE_M1},
        {"native", 0, CPUType::APPLE_INTEL},
        {"no such name", tl::unexpected(ENOENT), CPUType::APPLE_INTEL},
        {"other error", tl::unexpected(EPERM), CPUType::UNDEFINED},
        {"odd value", 7, CPUType::UNDEFINED},
    };
    for (const Row& row : rows) {
        ScopedTranslatedProcessQuery seam([&] { return row.answer; });
        EXPECT_EQ(currentCPU(), row.expected) << row.label;
        EXPECT_EQ(isM1(), row.expected == CPUType::APPLE_M1) << row.label;
        EXPECT_EQ(cpuTypeFromRawValue(rawValue(currentCPU())), row.expected) << row.label;
    }
    EXPECT_FALSE(cpuTypeFromRawValue("apple_m1").has_value());
    EXPECT_EQ(currentCPU(), CPUType::APPLE_INTEL);
}

TEST(QuantileTest, InterpolatesBetweenRanks) {
    const std::vector<float> values = {4, 1, 3, 2};
    EXPECT_EQ(quantile(values, 0.5), 2.5);
    EXPECT_EQ(quantile(values, 0.0), 1.0);
    EXPECT_EQ(quantile(values, 1.0), 4.0);
    EXPECT_EQ(quantile(values, 0.25), 1.75);
    const std::vector<float> single = {7};
    for (double fraction : {0.0, 0.3, 1.0}) {
        EXPECT_EQ(quantile(single, fraction), 7.0);
    }
}

TEST(QuantileTest, NoResultForEmptyListsAndBadFractions) {
    const std::vector<float> values = {1, 2, 3, 4};
    EXPECT_FALSE(quantile(values, 1.5).has_value());
    EXPECT_FALSE(quantile(values, -0.1).has_value());
    EXPECT_FALSE(quantile(values, std::nan("")).has_value());
    EXPECT_FALSE(quantile(std::vector<float>{}, 0.5).has_value());
}

TEST(QuantileTest, NaNValuesSortLast) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> values;
    for (int i = 0; i < 100; ++i) {
        values.push_back(i % 3 == 0 ? nan : static_cast<float>(i));
    }
    EXPECT_EQ(quantile(values, 0.0), 1.0);
    EXPECT_TRUE(std::isnan(*quantile(values, 1.0)));
}

TEST(DictionaryHelpersTest, AllKeysAndGrouping) {
    std::map<std::string, std::string> slugs = {{"ann", "ANN"}, {"cnn", "CNN"}, {"nn", "ANN"}};
    EXPECT_EQ(allKeys(slugs, std::string("ANN")), (std::vector<std::string>{"ann", "nn"}));
    EXPECT_TRUE(allKeys(slugs, std::string("XGB")).empty());

    std::vector<std::pair<std::string, int>> pairs = {{"a", 1}, {"b", 2}, {"a", 3}};
    auto groups = groupingByKey<std::string, int>(pairs);
    EXPECT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups["a"], (std::vector<int>{1, 3}));
    EXPECT_EQ(groups["b"], (std::vector<int>{2}));
}

TEST(IsDirectoryTest, TrueOnlyForExistingFolders) {
    test_support::TemporaryFolder folder;
    { std::ofstream(folder.path() / "file") << "x"; }
    EXPECT_TRUE(isDirectory(folder.path()));
    EXPECT_FALSE(isDirectory(folder.path() / "file"));
    EXPECT_FALSE(isDirectory(folder.path() / "missing"));
}

TEST(ServerRunCommandTest, LaterOptionsWinAndDanglingOptionsAreIgnored) {
    ServerRunCommand defaults;
    EXPECT_EQ(defaults.pwd, "~/src/brisel");

    const std::vector<std::string> repeated = {"prog", "--pwd", "/tmp", "--pwd", "/var"};
    EXPECT_EQ(ServerRunCommand(repeated).pwd, "/var");

    const std::vector<std::string> dangling = {"prog", "--device-manager-command", "run.sh", "--pwd"};
    ServerRunCommand parsed(dangling);
    EXPECT_EQ(parsed.deviceManagerCommand, "run.sh");
    EXPECT_EQ(parsed.pwd, "~/src/brisel");

    EXPECT_EQ(ServerRunCommand::fromProcessCommandLine().pwd, "~/src/brisel");
}

}  // namespace
}  // namespace brisel::common
