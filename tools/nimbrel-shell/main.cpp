// nimbrel-shell: what Explorer would have been told. Shows the shell notifications and settings
// broadcasts that every process sent, from the user's shell journal.
//
//   nimbrel-shell watch [--since-start] [--json] [PATH]   prints notifications as they arrive
//   nimbrel-shell log [--json] [PATH]                     prints what the journal holds
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "journal_filter.h"
#include "journal_line.h"
#include "platform/shell_journal.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;

struct Arguments {
    std::string command;
    bool sinceStart = false;
    bool json = false;
    std::string path;
};

const char kUsage[] =
    "usage: nimbrel-shell watch [--since-start] [--json] [PATH]   prints notifications as they arrive, until\n"
    "                                                             Ctrl-C; --since-start from the journal's start\n"
    "       nimbrel-shell log [--json] [PATH]                     prints what the journal holds\n"
    "       nimbrel-shell --help | -h\n"
    "PATH keeps the notifications about PATH and what is below it; --json prints one JSON object a line.\n";

// An empty problem: the command line is usable.
std::string parse(int argc, char** argv, Arguments& arguments) {
    if (argc < 2) return "missing command";
    arguments.command = argv[1];
    if (arguments.command != "watch" && arguments.command != "log") {
        return (arguments.command[0] == '-' ? "unknown option " : "unknown command ") + arguments.command;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--json") {
            arguments.json = true;
        } else if (word == "--since-start" && arguments.command == "watch") {
            arguments.sinceStart = true;
        } else if (word[0] == '-') {
            return "unknown option " + word;
        } else if (!arguments.path.empty()) {
            return arguments.command + " takes one path";
        } else {
            arguments.path = word;
        }
    }
    return std::string();
}

void print(const std::vector<nimbrel::platform::ShellJournalRecord>& records, const JournalFilter& filter, bool json) {
    for (const auto& record : records) {
        if (filter.selects(record)) std::printf("%s\n", json ? record.json.c_str() : journalLine(record).c_str());
    }
    std::fflush(stdout);
}

int watch(const Arguments& arguments, const JournalFilter& filter) {
    struct sigaction action {};
    action.sa_handler = [](int) { g_interrupted = 1; };
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    nimbrel::platform::ShellJournalFollower follower(arguments.sinceStart);
    while (!g_interrupted) {
        print(follower.poll(), filter, arguments.json);
        // Like tail -f: a tenth of a second is quick for a person and costs nothing.
        usleep(100 * 1000);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Arguments arguments;
    if (const std::string problem = parse(argc, argv, arguments); !problem.empty()) {
        std::fprintf(stderr, "nimbrel-shell: %s (see nimbrel-shell --help)\n", problem.c_str());
        return 2;
    }
    const JournalFilter filter(arguments.path);
    if (arguments.command == "watch") return watch(arguments, filter);
    print(nimbrel::platform::readShellJournal(), filter, arguments.json);
    return 0;
}
