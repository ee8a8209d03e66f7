// The one long-option parser: values in both forms, flags, positional arguments, --help and
// --version, and each error line.
#include <gtest/gtest.h>

#include "common/long_options.h"

namespace zelk {
namespace {

using Outcome = LongOptions::Outcome;

struct Parsed {
    std::string name = "default", path, number;
    bool quiet = false;
    std::vector<std::string> rest;
    std::string error;
    Outcome outcome = Outcome::kRun;
};

Parsed Parse(const std::vector<std::string>& args, bool positional) {
    Parsed p;
    LongOptions parser;
    parser.Value("--name", p.name)
        .Value("--path", p.path, true)
        .Value("--number",
               [&p](const std::string& v) {
                   if (v.find_first_not_of("0123456789") != std::string::npos) {
                       return "--number needs digits, not \"" + v + "\"";
                   }
                   p.number = v;
                   return std::string();
               })
        .Flag("--quiet", p.quiet);
    if (positional) parser.Positional(p.rest);
    p.outcome = parser.Parse(args, p.error);
    return p;
}

TEST(LongOptions, ValuesFlagsAndPositionalArguments) {
    const Parsed p = Parse(
        {"--name", "--odd", "--path=", "a", "--quiet", "-5", "--number=42", "--", "--name=last"},
        true);
    EXPECT_EQ(p.outcome, Outcome::kRun) << p.error;
    EXPECT_EQ(p.name, "last");
    EXPECT_EQ(p.path, "");
    EXPECT_EQ(p.number, "42");
    EXPECT_TRUE(p.quiet);
    EXPECT_EQ(p.rest, (std::vector<std::string>{"a", "-5", "--"}));
    EXPECT_EQ(Parse({}, false).name, "default");
}

TEST(LongOptions, HelpVersionAndErrors) {
    EXPECT_EQ(Parse({"--quiet", "--help"}, false).outcome, Outcome::kHelp);
    EXPECT_EQ(Parse({"-h"}, false).outcome, Outcome::kHelp);
    EXPECT_EQ(Parse({"--version"}, false).outcome, Outcome::kVersion);
    EXPECT_EQ(Parse({"--version", "--help"}, false).outcome, Outcome::kHelp);
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    for (const Case& c :
         {Case{{"--help", "--bogus"}, "unknown option: --bogus"},
          Case{{"--quiet=yes"}, "unknown option: --quiet=yes"},
          Case{{"--nam"}, "unknown option: --nam"}, Case{{"word"}, "unexpected argument: word"},
          Case{{"--name"}, "--name needs a value"}, Case{{"--name="}, "--name needs a value"},
          Case{{"--name", ""}, "--name needs a value"},
          Case{{"--number", "4x"}, "--number needs digits, not \"4x\""}}) {
        const Parsed p = Parse(c.args, false);
        EXPECT_EQ(p.outcome, Outcome::kError) << c.error;
        EXPECT_EQ(p.error, c.error);
    }
}

}  // namespace
}  // namespace zelk
