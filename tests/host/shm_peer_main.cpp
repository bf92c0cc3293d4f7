// A second process for the shared-memory tests.
//   host_shm_peer write NAME TEXT   publishes TEXT, prints "written" and stays alive until killed
//   host_shm_peer read NAME         prints the text published under NAME; exit code 1 when none
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "host/shared_memory.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        if (!SharedMemory::instance().write(argv[2], argv[3])) return 1;
        std::printf("written\n");
        std::fflush(stdout);
        // The section lives as long as a handle to it is open.
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
        std::string text;
        if (!SharedMemory::instance().read(argv[2], text)) return 1;
        std::printf("%s", text.c_str());
        return 0;
    }
    return 2;
}
