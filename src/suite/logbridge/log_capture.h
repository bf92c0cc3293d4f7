#pragma once
// Captures the lines written through the logging bridge while it lives, for tests that assert
// the exact text of a log line.

#include <memory>
#include <string>
#include <vector>

class LogCapture {
public:
    struct Line {
        int level;
        std::string text;  // the message, starting with the "[file:line] function" prefix
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;
    // True when some captured line contains `fragment`.
    bool contains(const std::string& fragment) const;
    // How many captured lines contain `fragment`.
    int count(const std::string& fragment) const;

private:
    struct Sink;
    std::shared_ptr<Sink> sink_;
};
