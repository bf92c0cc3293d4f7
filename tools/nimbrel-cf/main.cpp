// nimbrel-cf: inspects placeholders and acts as an application that opens and reads files.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: nimbrel-cf info PATH...\n"
                 "       nimbrel-cf open PATH [--read] [--out FILE] [--quiet]\n"
                 "       nimbrel-cf roots\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "info") {
        if (argc < 3) return usage();
        return nimbrel::tools::cf::infoCommand(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (command == "open") {
        std::string path;
        std::string out;
        bool read = false;
        bool quiet = false;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--read") == 0) {
                read = true;
            } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
                out = argv[++i];
                read = true;
            } else if (std::strcmp(argv[i], "--quiet") == 0) {
                quiet = true;
            } else if (path.empty() && argv[i][0] != '-') {
                path = argv[i];
            } else {
                return usage();
            }
        }
        if (path.empty()) return usage();
        return nimbrel::tools::cf::openCommand(path, read, out, quiet);
    }
    if (command == "roots" && argc == 2) return nimbrel::tools::cf::rootsCommand();
    return usage();
}
