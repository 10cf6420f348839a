#include <gtest/gtest.h>

#include "cli-frame/Options/CLIOptions.h"
#include "cli-frame/Options/CommandArguments.h"

namespace cli {
namespace {

using Words = std::vector<std::string>;

TEST(CLIOptions, TakesTheLastLogFileOptionInEitherFormAndOnlyTheFirstRemainingArgumentAsTheWord) {
    const std::set<std::string> table{"env.check", "transcribe"};
    const std::nullopt_t none = std::nullopt;
    struct Case {
        Words arguments;
        std::optional<std::set<std::string>> words;
        std::optional<std::string> logPath, command;
        Words rest;
    };
    for (const Case& expected : std::vector<Case>{
             {{"--log-file", "/a.log", "env.check", "--log-file=/b=c.log", "x"}, table, "/b=c.log", "env.check", {"x"}},
             {{"env.check", "--log-file=/a.log", "--log-file"}, table, "/a.log", "env.check", {}},  // a dangling one is dropped
             {{"--log-file="}, table, "", none, {}},
             {{"--log-file", "--log-file", "env.check"}, table, "--log-file", "env.check", {}},  // whatever the value looks like
             {{"--locale", "en-US", "env.check"}, table, none, none, {"--locale", "en-US", "env.check"}},
             {{"Env.Check"}, table, none, none, {"Env.Check"}},
             // Without a word table any first argument is the word, even an empty one.
             {{"", "--uid", "x"}, none, none, "", {"--uid", "x"}},
             {{}, none, none, none, {}}}) {
        const auto options = CLIOptions::parse(expected.arguments, expected.words);
        EXPECT_EQ(options.explicitLogPath, expected.logPath) << testing::PrintToString(expected.arguments);
        EXPECT_EQ(options.commandName, expected.command) << testing::PrintToString(expected.arguments);
        EXPECT_EQ(options.arguments, expected.rest) << testing::PrintToString(expected.arguments);
    }
}

TEST(CommandArguments, FindsTheFirstValueInEitherForm) {
    for (const auto& [arguments, value] : std::vector<std::pair<Words, std::optional<std::string>>>{
             {{"--locale=en-US"}, "en-US"}, {{"--locale"}, std::nullopt}, {{"--locale", "--preset"}, "--preset"},
             {{"--locale="}, ""}, {{"--locale=a=b", "--locale", "c"}, "a=b"}, {{"--localex", "a", "--locale", "b"}, "b"},
             {{}, std::nullopt}}) {
        EXPECT_EQ(CommandArguments(arguments).value("--locale"), value) << testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace cli
