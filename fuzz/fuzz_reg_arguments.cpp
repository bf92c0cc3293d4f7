// nimbrel-reg's command line, one argument per input line, run in this process against the
// registry of this run's own platform home. The tool answers 0, 1 or 2 to whatever it is given;
// it never waits for an answer here (stdin is empty, so every confirmation is declined).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "fuzz_env.h"
#include "platform/windows.h"
#include "reg_tool.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbrel::fuzz::useFreshPlatformFolders();
    if (!std::freopen("/dev/null", "r", stdin)) std::abort();
    // The tool's messages would drown the fuzzer's own output, which goes to stderr directly.
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = {"nimbrel-reg"};
    std::string text = nimbrel::fuzz::text(data, size);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        words.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) words.push_back(text.substr(start));
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int code = nimbrel::reg::runRegTool(static_cast<int>(words.size()), argv.data());
    if (code < 0 || code > 2) std::abort();
    std::cin.clear();
    // Every input starts from an empty registry.
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) RegDeleteTreeW(root, nullptr);
    return 0;
}
