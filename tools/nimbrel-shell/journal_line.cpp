#include "journal_line.h"

#include <cstdio>
#include <ctime>

std::string journalLine(const nimbrel::platform::ShellJournalRecord& record) {
    const std::time_t seconds = static_cast<std::time_t>(record.timeMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char time[32];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(record.timeMs % 1000));
    std::string line =
        std::string(time) + " " + record.process + "[" + std::to_string(record.pid) + "] " + record.eventNames;
    for (std::size_t i = 0; i < record.paths.size(); ++i) line += (i == 0 ? " " : " -> ") + record.paths[i].host;
    if (!record.text.empty()) line += " \"" + record.text + "\"";
    return line;
}
