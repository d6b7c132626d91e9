// The option parser over a table like the one options.def expands into.
#include <gtest/gtest.h>

#include "options.h"

namespace {

constexpr cli::OptionRow kTable[] = {
    {"--flag", "", "a flag"},
    {"-g", "", "a short flag"},
    {"--format", "plain|json", "a choice"},
    {"--name", "WORD", "a value with a long help text placed on a line of its own"},
};

cli::CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "prog");
    return cli::parse(kTable, static_cast<int>(args.size()), args.data());
}

}  // namespace

TEST(Options, FlagsValuesAndOperandsInAnyOrder) {
    const cli::CommandLine l = parse({"a.vxl", "-g", "--format=json", "--name", "x=y", "b", "-", "--", "--flag"});
    EXPECT_EQ(l.error, "");
    ASSERT_EQ(l.options.size(), 3u);
    EXPECT_EQ(l.options[0].row, 1u);
    EXPECT_EQ(l.options[1].row, 2u);
    EXPECT_EQ(l.options[1].value, "json");
    EXPECT_EQ(l.options[2].value, "x=y");
    EXPECT_EQ(l.operands, (std::vector<std::string>{"a.vxl", "b", "-", "--flag"}));
}

// Long options before the first operand only; "-x" is an operand there.
TEST(Options, LongOptionsBeforeOperands) {
    std::vector<const char*> args{"prog", "--flag", "-x", "--flag", "--"};
    cli::CommandLine l = cli::parse(kTable, 5, args.data(), cli::Order::long_before_operands);
    EXPECT_EQ(l.error, "");
    EXPECT_EQ(l.options.size(), 1u);
    EXPECT_EQ(l.operands, (std::vector<std::string>{"-x", "--flag", "--"}));
    args = {"prog", "--", "--flag"};
    l = cli::parse(kTable, 3, args.data(), cli::Order::long_before_operands);
    EXPECT_EQ(l.operands, (std::vector<std::string>{"--flag"}));
}

TEST(Options, Complaints) {
    EXPECT_EQ(parse({"--flagg"}).error, "unrecognized option '--flagg'");
    EXPECT_EQ(parse({"-g=1"}).error, "option '-g' doesn't allow an argument");
    EXPECT_EQ(parse({"--name"}).error, "option '--name' requires an argument");
    EXPECT_EQ(parse({"--format=xml"}).error, "invalid argument 'xml' for '--format' (valid: plain|json)");
    EXPECT_EQ(parse({"--format", ""}).error, "invalid argument '' for '--format' (valid: plain|json)");
}

TEST(Options, HelpListing) {
    EXPECT_EQ(cli::help_listing(kTable),
              "  --flag                a flag\n"
              "  -g                    a short flag\n"
              "  --format=plain|json   a choice\n"
              "  --name=WORD           a value with a long help text placed on a line of its\n"
              "                        own\n");
}

// -h is --help where options may stand, in both orders; after "--" or an
// operand (long options only before operands) it is a name.
TEST(Options, ShortHelp) {
    constexpr cli::OptionRow with_help[] = {{"--flag", "", "a flag"}, {"--help", "", "help"}};
    std::vector<const char*> args{"prog", "-h"};
    for (const cli::Order order : {cli::Order::anywhere, cli::Order::long_before_operands}) {
        const cli::CommandLine l = cli::parse(with_help, 2, args.data(), order);
        EXPECT_EQ(l.error, "");
        ASSERT_EQ(l.options.size(), 1u);
        EXPECT_EQ(l.options[0].row, 1u);
        EXPECT_TRUE(l.operands.empty());
    }
    args = {"prog", "--", "-h"};
    EXPECT_EQ(cli::parse(with_help, 3, args.data(), cli::Order::long_before_operands).operands,
              (std::vector<std::string>{"-h"}));
    args = {"prog", "img", "-h"};
    EXPECT_EQ(cli::parse(with_help, 3, args.data(), cli::Order::long_before_operands).operands,
              (std::vector<std::string>{"img", "-h"}));
    // A table without --help leaves -h to the usual rules.
    EXPECT_EQ(parse({"-h"}).error, "unrecognized option '-h'");
}
