#pragma once
// The whole of nimbrel-reg behind its command line, callable without starting a process (the fuzz
// target of its arguments runs it in-process).

namespace nimbrel::reg {

// argv as main receives it; answers the exit code (0 success, 1 failure, 2 invalid command line).
int runRegTool(int argc, char** argv);

}  // namespace nimbrel::reg
