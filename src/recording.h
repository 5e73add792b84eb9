// What both programs share: the sample file's block reader, which feeds
// every line to the scan and tallies what it finds per channel, and the
// Unix way of reporting a failure under the program's own name.
#ifndef TAVRIN_RECORDING_H
#define TAVRIN_RECORDING_H

#include "scan.h"

#include <cstddef>
#include <cstdint>

constexpr int kNChan = 32;           // channels per chip
constexpr int kMaxLineLength = 192;  // line buffer size, terminating NUL included
// The most that the reader reads from the sample file at a time.
constexpr std::size_t kMaxBlockBytes = 65536;

constexpr int kAdcBits = 10;
constexpr int kNoMinimum = 1 << kAdcBits;  // above every ADC code
constexpr int kNoMaximum = -1;             // below every ADC code

// A channel is stuck when its minimum stays above this: no value came
// down to 0 or 1.
constexpr int kHighestUnstuckMinimum = 1;

static_assert(scan::kTokens == kNChan, "the scan converts one token per channel");
static_assert(scan::kMaxCode == kNoMinimum - 1, "the scan's codes are the ADC's");

// Lines are counted in 64 bits on every target: a recording may pass 2^31
// lines, where a 32-bit count would wrap.
typedef std::int64_t LineNumber;
static_assert(sizeof(LineNumber) == 8, "line numbers must not wrap on 32-bit targets");

// What the scan of one recording found, by tavrin's rules.
struct Tally {
    int minimum[kNChan];
    int maximum[kNChan];
    LineNumber lines;  // lines scanned, blank ones included
    bool unfinished;   // a last line without a newline was left out
};

// A tally of nothing yet: every minimum kNoMinimum, every maximum kNoMaximum.
void start_tally(Tally& tally);

constexpr int kCodes = kNoMinimum;  // the ADC codes, 0 to 1023
// A channel's histogram, padded so that the channels' rows do not lie a
// multiple of 4 KiB apart: the processor takes a load for one that follows
// a store to another at the same offset within 4 KiB, and waits, which the
// counts of a line's channels, close in code, kept doing.
constexpr int kCodeRow = kCodes + 8;
constexpr int kNoCode = kCodes;  // where a row counts the values that are no code
// A line on which at least this many of the channels read 0 or 1 is a
// pulse line: the station's pulse test pulls every channel down at once.
constexpr int kPulseChannels = kNChan / 2;

// What the survey learns of a recording beyond tavrin's ranges. A line is
// malformed when it holds a NUL, or when one of its first kNChan tokens is
// not an optional sign and decimal digits (a carriage return just before
// the newline is no token's); a channel's codes are its values from 0 to
// kCodes - 1 on the lines that are not. Each channel's histograms are
// zero outside a stretch of codes, its range clamped to the codes, so that
// only that stretch is read and cleared.
struct CodeTally {
    // The code bits of every value from 0 to kCodes - 1, malformed lines
    // included, as tavrin reads them; and the values of the line just
    // scanned, which the kernel leaves here.
    scan::SurveyLine line;
    // The lines that gave values to exactly n channels, by n: channel c
    // received a value from each line counted at n > c.
    LineNumber lines_reaching[kNChan + 1];
    LineNumber histogram[kNChan][kCodeRow];        // codes, by channel and code
    LineNumber pulse_histogram[kNChan][kCodeRow];  // those that came on pulse lines
    int lowest[kNChan];   // the stretch; highest < lowest when the channel
    int highest[kNChan];  // received no value from 0 to kCodes - 1
    LineNumber malformed;  // lines
    LineNumber short_lines;  // lines not malformed, not blank, with fewer than kNChan tokens
    LineNumber pulses;     // pulse lines
};

// Clears what the tally holds of the last recording, which takes the
// stretches of codes that it touched; a tally that is zero throughout (a
// static one) may start right away.
void start_codes(CodeTally& codes);

// Scans every complete line of the open sample file's text (the file
// itself, or its decompressed text) into the tally, and into codes when
// it is not nullptr, reading block_bytes (1 to kMaxBlockBytes) of text at
// a time. Returns 0, or 1 after reporting on standard error that the scan
// failed or stopped early; a last line without a newline is left out with
// a warning.
int scan_file(int fd, const char* path, Tally& tally, std::size_t block_bytes, CodeTally* codes);

// The low ten bits of an ADC code as binary digits, most significant first.
struct AdcBits {
    char digits[kAdcBits + 1];
};

AdcBits adc_bits(int code);

// Writes all of data, going on after a short write; returns 0 or errno,
// and counts in written the bytes that went out.
int write_all(int fd, const char* data, std::size_t size, std::size_t& written);

// The name that diagnostics start with; each program's main file defines it.
extern const char kProgramName[];

// Reports a failure on a file the Unix way, "<program>: <file>: <reason>";
// returns the exit status it sets, 1.
int fail_because(const char* file, const char* reason);
int fail(const char* file, int error);

// Whether the closed standard descriptors could be filled before anything
// else ran (0), or errno; main reports it.
int standard_descriptors_guard_error();

// Whether the standard descriptor fd was closed when the program started
// (and so holds /dev/null now).
bool standard_descriptor_was_closed(int fd);

#endif
