// The report's outputs: text built in memory, then put in place whole.
#ifndef TAVRIN_REPORT_TEXT_H
#define TAVRIN_REPORT_TEXT_H

#include "report_memory.h"

#include <climits>
#include <cstddef>

namespace report {

class Text {
public:
    void add(const char* text);
    void add(const char* text, std::size_t length);
    // printf's formats; an item is at most kMaxFormatted bytes.
    __attribute__((format(printf, 2, 3))) void format(const char* format, ...);
    // Text for HTML and SVG: &, <, > and quotes as references, control
    // bytes and bytes that are not UTF-8 as U+FFFD.
    void markup(const char* text, std::size_t length);
    void markup(const char* text);
    // A field of a tab-separated row: a backslash as \\, a tab as \t, a
    // newline as \n, as the survey writes its names.
    void field(const char* text, std::size_t length);

    const char* data() const { return chars_.begin(); }
    std::size_t size() const { return chars_.size(); }

    static const std::size_t kMaxFormatted = 1024;

private:
    Array<char> chars_;
};

// An output on its way: the text written whole to a temporary file beside
// the path, then renamed into place; or written to standard output ("-")
// or to a path that is no regular file (a device, a FIFO) at commit. A
// symbolic link stays: the regular file that it leads to, its target, is
// the one replaced.
struct Output {
    const char* path;
    const Text* text;
    int fd;
    char temporary[PATH_MAX];
    char target[PATH_MAX];  // the path with its links resolved, or empty for the path itself
};

// Writes the output's temporary file, flushed to the disk; returns 0, or
// 1 after reporting why not, with nothing left behind.
int prepare(Output& output);
// Puts the output in place; returns 0, or 1 after reporting why not.
int commit(Output& output);
// Removes the temporary file of an output that is not to be committed.
void discard(Output& output);

}  // namespace report

#endif
