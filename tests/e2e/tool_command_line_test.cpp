// The tools as a newcomer tries them: --help and -h list every command and succeed, a word the tool
// does not know fails with exit code 2 and a single line that names it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_env.h"

namespace nimbrel::test {
namespace {

struct Tool {
    const char* name;
    std::vector<std::string> commands;  // each must appear in the usage text
    std::vector<std::string> unknownCommand;
    std::vector<std::string> unknownOption;
};

const std::vector<Tool> kTools = {
    {"nimbrel-cf", {"info", "open", "roots"}, {"frob"}, {"open", "x", "--frob"}},
    {"nimbrel-reg", {"query", "add", "delete"}, {"frob"}, {"query", "HKCU\\x", "/frob"}},
    {"nimbrel-shell", {"watch", "log"}, {"frob"}, {"log", "--frob"}},
    {"nimbrel-cfd", {"nimbrel-cfd", "stop"}, {"frob"}, {"--frob"}},
    {"nimbrel-mainclient", {"send", "mount", "unmount", "serve", "@FILE"}, {"--mode", "0", "frob"}, {"--frob"}},
    {"nimbrel-menu", {"port", "show", "run", "@FILE"}, {"frob"}, {"--mode", "0", "--frob"}},
};

TEST(ToolCommandLine, HelpListsEveryCommandAndUnknownWordsFailWithOneLine) {
    for (const Tool& tool : kTools) {
        const std::string program = appDir() + "/" + tool.name;
        for (const char* help : {"--help", "-h"}) {
            const CommandResult result = runCommand(program, {help});
            EXPECT_EQ(0, result.exitCode) << tool.name << " " << help;
            for (const auto& command : tool.commands) {
                EXPECT_NE(std::string::npos, result.out.find(command)) << tool.name << " " << help << ": " << command;
            }
        }
        for (const auto& args : {tool.unknownCommand, tool.unknownOption}) {
            const CommandResult result = runCommand(program, args);
            EXPECT_EQ(2, result.exitCode) << tool.name << " " << args.back();
            EXPECT_EQ(1, occurrences(result.err, "\n")) << tool.name << ": " << result.err;
            EXPECT_NE(std::string::npos, result.err.find(args.back())) << tool.name << ": " << result.err;
        }
    }
}

}  // namespace
}  // namespace nimbrel::test
