#include "reg_tool.h"

#include <iostream>

#include "reg_arguments.h"
#include "reg_commands.h"

namespace nimbrel::reg {

int runRegTool(int argc, char** argv) {
    Arguments arguments;
    switch (parseArguments(argc, argv, arguments)) {
        case ParseResult::InvalidSyntax:
            std::cerr << "ERROR: Invalid syntax" << (arguments.rejected.empty() ? "" : " at " + arguments.rejected)
                      << ". Type \"nimbrel-reg --help\" for usage.\n";
            return 2;
        case ParseResult::InvalidKey:
            std::cerr << "ERROR: Invalid key name " << argv[2] << ". Type \"nimbrel-reg --help\" for usage.\n";
            return 2;
        case ParseResult::Ok:
            break;
    }
    switch (arguments.operation) {
        case Operation::Query:
            return runQuery(arguments);
        case Operation::Add:
            return runAdd(arguments);
        case Operation::Delete:
            return runDelete(arguments);
        case Operation::Help:
            break;
    }
    std::cout << usageText();
    return 0;
}

}  // namespace nimbrel::reg
