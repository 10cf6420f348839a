#include <gtest/gtest.h>

#include "cli-frame/Options/CLIOptions.h"
#include "cli-frame/Options/CommandArguments.h"

namespace cli {
namespace {

const std::set<std::string> words{"env.check", "transcribe"};

TEST(CLIOptions, TakesTheLastLogFileOptionInEitherFormAndDropsADanglingOne) {
    auto options = CLIOptions::parse({"--log-file", "/a.log", "env.check", "--log-file=/b=c.log", "x"}, words);
    EXPECT_EQ(options.explicitLogPath, "/b=c.log");
    EXPECT_EQ(options.commandName, "env.check");
    EXPECT_EQ(options.arguments, std::vector<std::string>{"x"});

    options = CLIOptions::parse({"env.check", "--log-file=/a.log", "--log-file"}, words);
    EXPECT_EQ(options.explicitLogPath, "/a.log");
    EXPECT_TRUE(options.arguments.empty());

    options = CLIOptions::parse({"--log-file="}, words);
    EXPECT_EQ(options.explicitLogPath, "");
    EXPECT_FALSE(options.commandName);

    // The value after "--log-file" is taken whatever it looks like.
    options = CLIOptions::parse({"--log-file", "--log-file", "env.check"}, words);
    EXPECT_EQ(options.explicitLogPath, "--log-file");
    EXPECT_EQ(options.commandName, "env.check");
}

TEST(CLIOptions, CommandWordIsOnlyTheFirstRemainingArgument) {
    // An option before the word leaves every argument in place and no word.
    auto options = CLIOptions::parse({"--locale", "en-US", "env.check"}, words);
    EXPECT_FALSE(options.commandName);
    EXPECT_EQ(options.arguments, (std::vector<std::string>{"--locale", "en-US", "env.check"}));

    options = CLIOptions::parse({"Env.Check"}, words);
    EXPECT_FALSE(options.commandName);
    EXPECT_EQ(options.arguments.size(), 1u);

    // Without a word table any first argument is the word, even an empty one.
    options = CLIOptions::parse({"", "--uid", "x"}, std::nullopt);
    EXPECT_EQ(options.commandName, "");
    EXPECT_EQ(options.arguments, (std::vector<std::string>{"--uid", "x"}));
    EXPECT_FALSE(CLIOptions::parse({}, std::nullopt).commandName);
}

TEST(CommandArguments, FindsTheFirstValueInEitherForm) {
    EXPECT_EQ(CommandArguments({"--locale=en-US"}).value("--locale"), "en-US");
    EXPECT_EQ(CommandArguments({"--locale"}).value("--locale"), std::nullopt);
    EXPECT_EQ(CommandArguments({"--locale", "--preset"}).value("--locale"), "--preset");
    EXPECT_EQ(CommandArguments({"--locale="}).value("--locale"), "");
    EXPECT_EQ(CommandArguments({"--locale=a=b", "--locale", "c"}).value("--locale"), "a=b");
    EXPECT_EQ(CommandArguments({"--localex", "a", "--locale", "b"}).value("--locale"), "b");
    EXPECT_EQ(CommandArguments({}).value("--locale"), std::nullopt);
}

}  // namespace
}  // namespace cli
