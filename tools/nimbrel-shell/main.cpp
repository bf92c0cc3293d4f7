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

int usage() {
    std::fprintf(stderr,
                 "usage: nimbrel-shell watch [--since-start] [--json] [PATH]\n"
                 "       nimbrel-shell log [--json] [PATH]\n");
    return 2;
}

bool parse(int argc, char** argv, Arguments& arguments) {
    if (argc < 2) return false;
    arguments.command = argv[1];
    if (arguments.command != "watch" && arguments.command != "log") return false;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--json") {
            arguments.json = true;
        } else if (word == "--since-start" && arguments.command == "watch") {
            arguments.sinceStart = true;
        } else if (word.rfind("--", 0) == 0 || !arguments.path.empty()) {
            return false;
        } else {
            arguments.path = word;
        }
    }
    return true;
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
    Arguments arguments;
    if (!parse(argc, argv, arguments)) return usage();
    const JournalFilter filter(arguments.path);
    if (arguments.command == "watch") return watch(arguments, filter);
    print(nimbrel::platform::readShellJournal(), filter, arguments.json);
    return 0;
}
