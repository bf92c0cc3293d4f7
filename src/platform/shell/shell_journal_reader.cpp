#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/platform_paths.h"
#include "platform/shell_journal.h"
#include "shell_journal_format.h"

namespace nimbrel::platform {

namespace {

void appendRecordsOfFile(const std::string& path, std::vector<ShellJournalRecord>& records) {
    std::ifstream file(path);
    std::string line;
    ShellJournalRecord record;
    while (std::getline(file, line)) {
        if (shell::parseJournalRecord(line, record)) records.push_back(record);
    }
}

}  // namespace

std::string shellJournalPath() { return platformHome() + "/shell/journal.jsonl"; }

std::vector<ShellJournalRecord> readShellJournal() {
    std::vector<ShellJournalRecord> records;
    appendRecordsOfFile(shellJournalPath() + ".1", records);
    appendRecordsOfFile(shellJournalPath(), records);
    return records;
}

// The file being followed, by descriptor, so that a roll-over (a rename) does not lose the rest
// of it; the path is checked at each poll for the new file that replaced it.
struct ShellJournalFollower::State {
    std::string path;
    int fd = -1;
    struct stat identity {};
    std::string partial;
    std::vector<ShellJournalRecord> backlog;

    ~State() {
        if (fd >= 0) ::close(fd);
    }

    bool open(bool atEnd) {
        const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (opened < 0) return false;
        if (fd >= 0) ::close(fd);
        fd = opened;
        ::fstat(fd, &identity);
        if (atEnd) ::lseek(fd, 0, SEEK_END);
        partial.clear();
        return true;
    }

    void drain(std::vector<ShellJournalRecord>& records) {
        if (fd < 0) return;
        char buffer[65536];
        ssize_t count;
        while ((count = ::read(fd, buffer, sizeof buffer)) > 0) partial.append(buffer, static_cast<size_t>(count));
        std::size_t start = 0;
        std::size_t end;
        ShellJournalRecord record;
        while ((end = partial.find('\n', start)) != std::string::npos) {
            if (shell::parseJournalRecord(partial.substr(start, end - start), record)) records.push_back(record);
            start = end + 1;
        }
        partial.erase(0, start);
    }

    bool replaced() const {
        struct stat current {};
        if (::stat(path.c_str(), &current) != 0) return false;
        return fd < 0 || current.st_ino != identity.st_ino || current.st_dev != identity.st_dev;
    }
};

ShellJournalFollower::ShellJournalFollower(bool fromStart) : state_(std::make_unique<State>()) {
    state_->path = shellJournalPath();
    if (fromStart) appendRecordsOfFile(state_->path + ".1", state_->backlog);
    state_->open(!fromStart);
}

ShellJournalFollower::~ShellJournalFollower() = default;

std::vector<ShellJournalRecord> ShellJournalFollower::poll() {
    std::vector<ShellJournalRecord> records = std::move(state_->backlog);
    state_->backlog.clear();
    state_->drain(records);
    if (state_->replaced() && state_->open(false)) state_->drain(records);
    return records;
}

}  // namespace nimbrel::platform
