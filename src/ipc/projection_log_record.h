#pragma once
// The lines one projection call (pushFileAdd, or one item of pushFileSystem or pushFileStatus)
// would log, gathered into one record and written once when the call ends. Warnings and failures
// are written at once; routine records, which come by the hundred thousand when the client pushes
// a tree, are only counted and show up as one summary line with a sample at most every 30 s.

#include <atomic>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

class ProjectionLogRecord {
public:
    enum Severity { Routine = 0, Warning = 1, Failure = 2 };

    // `file` is the handler's source file (__FILE__), `name` its qualified name, for example
    // "CServiceIpcManager::onIpcpushFileAdd".
    ProjectionLogRecord(const char* file, std::string name);
    ~ProjectionLogRecord();
    ProjectionLogRecord(const ProjectionLogRecord&) = delete;
    ProjectionLogRecord& operator=(const ProjectionLogRecord&) = delete;

    // One line: its source line, whether it is a warning (which raises the record to Warning),
    // and its text.
    void add(int line, bool warning, const std::string& text);
    // A routine line whose text is made only if the record is written: most routine records are
    // counted, not written. `makeText` holds copies of what it needs.
    void addDeferred(int line, std::function<std::string()> makeText);
    // Raises the record's severity; it never goes down.
    void raise(Severity severity);

    // The whole record as it is written: the usual line prefix, then every line with its number.
    std::string text() const;

private:
    struct Line {
        int line;
        bool warning;
        std::string text;
        std::function<std::string()> makeText;
    };

    // The record's own text is only made when it becomes the summary's sample.
    void writeSummary() const;

    const char* file_;
    std::string name_;
    int severity_ = Routine;
    std::vector<Line> lines_;
};

// Builds the text of a tagged line: the tag, then " name:value" for each field.
class ProjectionLine {
public:
    explicit ProjectionLine(const std::string& tag) { text_ << tag; }
    template <typename T>
    ProjectionLine& field(const char* name, const T& value) {
        text_ << ' ' << name << ':' << value;
        return *this;
    }
    template <typename T>
    ProjectionLine& operator<<(const T& value) {
        text_ << value;
        return *this;
    }
    std::string str() const { return text_.str(); }

private:
    std::ostringstream text_;
};

// The warning that a local file kept with its native times no longer matches the pushed record.
std::string changedLocalLine(const std::string& tag, const std::string& path, long long expectedSize,
                             long long actualSize, bool isFile);
