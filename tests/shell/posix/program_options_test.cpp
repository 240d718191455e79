#include "shell/posix/program_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellvane::testing {
namespace {

shell::ProgramOptions parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "pellvane-server");
    return shell::parseProgramOptions(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ProgramOptionsTest, KnownOptions) {
    EXPECT_FALSE(parse({}).debug);
    EXPECT_TRUE(parse({}).error.empty());
    EXPECT_TRUE(parse({"--debug"}).debug);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_FALSE(parse({}).terminal);
    EXPECT_TRUE(parse({"--terminal"}).terminal);
    const auto both = parse({"--debug", "--help"});
    EXPECT_TRUE(both.debug && both.help);
}

TEST(ProgramOptionsTest, KeysArePrintedOnlyWhenAskedForOrWithDebug) {
    EXPECT_FALSE(parse({}).printKeys);
    EXPECT_TRUE(parse({"--debug"}).printKeys);
    const auto printOnly = parse({"--print-keys"});
    EXPECT_TRUE(printOnly.printKeys);
    EXPECT_FALSE(printOnly.debug);
    EXPECT_FALSE(printOnly.unicodeHex);
    EXPECT_TRUE(parse({"--unicode-hex"}).unicodeHex);
}

TEST(ProgramOptionsTest, AnythingElseIsAnErrorThatNamesIt) {
    for (const char* wrong : {"--port", "-d", "--debug=1", "extra", ""}) {
        const auto options = parse({"--debug", wrong});
        EXPECT_NE(options.error.find(std::string("'") + wrong + "'"), std::string::npos)
            << options.error;
        EXPECT_NE(options.error.find("--help"), std::string::npos);
    }
    EXPECT_EQ(shell::usageExitCode, 2);
}

}  // namespace
}  // namespace pellvane::testing
