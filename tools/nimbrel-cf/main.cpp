// nimbrel-cf: inspects placeholders and acts as an application that opens and reads files.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: nimbrel-cf info PATH...                               what Explorer would know of each item (JSON);\n"
    "                                                             exits 1 when one of them does not exist\n"
    "       nimbrel-cf open PATH [--read] [--out FILE] [--quiet]  opens PATH as an application, hydrating it;\n"
    "                                                             --read reads it whole, --out copies it to FILE\n"
    "       nimbrel-cf roots                                      the registered sync roots (JSON)\n"
    "       nimbrel-cf --help | -h\n";

int usageError(const std::string& problem) {
    std::fprintf(stderr, "nimbrel-cf: %s (see nimbrel-cf --help)\n", problem.c_str());
    return kUsageError;
}

bool isHelp(const char* word) { return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0; }

int open(int argc, char** argv) {
    std::string path;
    std::string out;
    bool read = false;
    bool quiet = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--read") == 0) {
            read = true;
        } else if (std::strcmp(argv[i], "--out") == 0) {
            if (i + 1 >= argc) return usageError("--out needs a file");
            out = argv[++i];
            read = true;
        } else if (std::strcmp(argv[i], "--quiet") == 0) {
            quiet = true;
        } else if (argv[i][0] == '-') {
            return usageError(std::string("unknown option ") + argv[i]);
        } else if (!path.empty()) {
            return usageError("open takes one path");
        } else {
            path = argv[i];
        }
    }
    if (path.empty()) return usageError("open needs a path");
    return nimbrel::tools::cf::openCommand(path, read, out, quiet);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (isHelp(argv[i])) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (argc < 2) return usageError("missing command");
    const std::string command = argv[1];
    if (command == "info") {
        if (argc < 3) return usageError("info needs a path");
        return nimbrel::tools::cf::infoCommand(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (command == "open") return open(argc, argv);
    if (command == "roots")
        return argc == 2 ? nimbrel::tools::cf::rootsCommand() : usageError("roots takes no argument");
    return usageError((command[0] == '-' ? "unknown option " : "unknown command ") + command);
}
