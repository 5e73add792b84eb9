// Reading the survey's rows into a campaign: a file's lines, its header,
// and each kind of row, checked column by column.
#ifndef TAVRIN_REPORT_ROWS_H
#define TAVRIN_REPORT_ROWS_H

#include "report_campaign.h"
#include "rows.h"

#include <cstddef>

namespace report {

// A file's lines, one at a time, read in large blocks; a line of more
// than 1 MiB is refused.
class LineReader {
public:
    enum Status { kLine, kEnd, kCutLine, kLongLine, kReadError };

    explicit LineReader(int fd) : fd_(fd) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader();
    // The next line, without its newline; kCutLine for a last line without
    // one, kLongLine for one over 1 MiB, kReadError with errno set.
    Status next(const char*& line, std::size_t& length);
    LineNumber number() const { return number_; }

private:
    // Reads more after what is left, which moves to the front; false on an
    // error (errno set). At the end it reads nothing.
    bool fill();
    int fd_;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t held_ = 0;   // the bytes read into the buffer
    std::size_t start_ = 0;  // the first of them not yet handed out
    LineNumber number_ = 0;
};

// Reports a fault of the input at a line, "<program>: <file>:<line>:
// <reason>"; returns 1.
int fail_at(const char* path, LineNumber line, const char* reason);

// Reads the file's first line, which must be one of the survey's headers,
// into kind; returns 0, or 1 after reporting why it is not.
int read_header(LineReader& reader, const char* path, rows::Kind& kind);

// Where the rows come from: the file's name for messages and its index
// among the inputs, and whether every file of recording and channel rows
// has been read (code rows of other recordings, or of channels without a
// fault, are then dropped).
struct Source {
    const char* path;
    std::uint32_t file;
    bool late;
};

// Reads the rest of a file of rows of the kind into the campaign; returns
// 0, or 1 after reporting the first fault, where the file's reading ends.
int read_rows(LineReader& reader, rows::Kind kind, const Source& source, Campaign& campaign);

// Checks that every recording given by channel rows has all its channels,
// or a recording row; returns 0, or 1 after reporting each that has not,
// where its last channel row was read (paths by file index).
int check_channel_rows(const Campaign& campaign, const char* const* paths);

// Makes the code rows one run per recording and channel, by code: those
// of the last file among the inputs that gave any for it, each code once,
// however often it was given.
void order_codes(Campaign& campaign);

}  // namespace report

#endif
