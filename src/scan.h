// The line scan: finds the tokens of one sample line and converts them.
// Several kernels implement it, one per instruction set; the build pins one
// or lets the first call pick the fastest that the processor runs.
#ifndef TAVRIN_SCAN_H
#define TAVRIN_SCAN_H

#include <cstddef>

namespace scan {

// Tokens of a line that count, one per channel; later ones are ignored.
const int kTokens = 32;
// A kernel reads a line in windows of this many bytes, so it may read up to
// one window past the line's end: the caller keeps that much readable after
// every line.
const int kWindowBytes = 64;

// The largest ADC code: ten bits.
const int kMaxCode = 1023;

// For each channel, over the values it received that are ADC codes (0 to
// kMaxCode): the bits set in every one of them, and the bits set in any.
// A channel that received no code keeps every bit in all and none in any.
struct CodeBits {
    int all[kTokens];
    int any[kTokens];
};

// What the survey asks of each line beyond its ranges: the code bits,
// folded as the ranges are, and the line's values, which the kernel leaves
// here for the reader to tally.
struct SurveyLine {
    CodeBits bits;
    int values[kTokens];  // by channel, as many as the fold returned
    // How many bytes from the line's start the kernel found to be digits
    // and spaces only, up to the last digit of the last counted token at
    // least; 0 when it did not look, and the reader looks itself.
    int plain_bytes;
};

// Converts the tokens of a line of length bytes, which its newline follows,
// and folds token j into minimum[j] and maximum[j], and into the survey's
// code bits and values when survey is not nullptr, for the first kTokens
// tokens. Tokens are split at spaces only and converted the way atoi does,
// saturating at the int limits; a NUL ends the tokens of its line. Returns
// how many tokens it folded.
int fold_line(const char* line, std::size_t length, int (&minimum)[kTokens], int (&maximum)[kTokens],
              SurveyLine* survey = nullptr);

// A kernel: fold_line for the line from line to end.
typedef int Kernel(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey);

struct KernelEntry {
    const char* name;
    Kernel* fold;
    bool (*runs_here)();  // whether this processor has what the kernel needs
};

// The kernels of this build, fastest first, ended by an entry without a
// name. The tests and the benchmark go through them.
const KernelEntry* kernels();

// The name of the kernel that fold_line uses, which it chooses first if it
// has not yet.
const char* kernel_in_use();

// Makes fold_line use the named kernel from now on. Returns false, and
// changes nothing, when the build has no such kernel or the processor
// cannot run it.
bool use_kernel(const char* name);

}  // namespace scan

#endif
