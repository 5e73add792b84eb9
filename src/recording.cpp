// The sample file's block reader, and what else both programs share: the
// binary digits of an ADC code, whole writes, the diagnostics and the
// guard of the standard descriptors.
#include "recording.h"

#include "codecs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// The sample file's read buffer: an unfinished line, a block, and the
// window that the line scan reads past a line's end, zeroed so that those
// bytes are never undefined. It lives outside the stack, so that the run
// needs no more stack than a line-at-a-time reader.
char read_buffer[kMaxLineLength + kMaxBlockBytes + scan::kWindowBytes];

// Reports a line over the length limit; the scan ends there.
int stop_at_long_line(const char* path, LineNumber line_number)
{
    std::fprintf(stderr, "%s: %s: line %lld: more than %d characters, scan stopped\n", kProgramName, path,
                 static_cast<long long>(line_number), kMaxLineLength - 1);
    return 1;
}

// --- what the survey tallies of a line ------------------------------------

const std::uint64_t kOnes = 0x0101010101010101u;
const std::uint64_t kHighBits = kOnes * 0x80;
const std::uint64_t kLowBits = kOnes * 0x7F;
const std::uint64_t kDigitZeros = kOnes * '0';
const std::uint64_t kSpaceInDigits = kOnes * (' ' ^ '0');

// The high bit of every zero byte of y, exactly: no carry crosses into
// the next byte, since only the low seven bits are added.
std::uint64_t zero_bytes(std::uint64_t y)
{
    return ~(((y & kLowBits) + kLowBits) | y) & kHighBits;
}

// The high bit of every byte of d (bytes ^ kDigitZeros) that is 10 or more,
// that is, of every byte that is no digit.
std::uint64_t non_digit_bytes(std::uint64_t d)
{
    return (((d & kLowBits) + kOnes * (0x80 - 10)) | d) & kHighBits;
}

bool is_digit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10;
}

// Whether the line holds nothing but digits and spaces, as the lines of a
// recording do: then each of its tokens is a number, and the kernel's count
// of them is the survey's. Eight bytes at a time, then the rest one by one.
bool digits_and_spaces(const char* p, const char* end)
{
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t d = word ^ kDigitZeros;
        if ((non_digit_bytes(d) & ~zero_bytes(d ^ kSpaceInDigits)) != 0) return false;
    }
    for (; p < end; ++p) {
        if (!is_digit(*p) && *p != ' ') return false;
    }
    return true;
}

// Whether the token from p to end is an optional sign and decimal digits.
bool is_number(const char* p, const char* end)
{
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p == end) return false;
    for (; p < end; ++p) {
        if (!is_digit(*p)) return false;
    }
    return true;
}

const int kMalformed = -1;

// The survey's count of the tokens of a line that is not all digits and
// spaces, up to kNChan, split at spaces, a carriage return just before the
// newline belonging to no token; or kMalformed for a line with a NUL, or
// with a token among the first kNChan that is not a number.
int counted_tokens(const char* line, const char* end)
{
    if (std::memchr(line, '\0', end - line) != nullptr) return kMalformed;
    if (end > line && end[-1] == '\r') --end;
    int tokens = 0;
    for (const char* p = line; p < end && tokens < kNChan;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        const char* const start = p;
        while (p < end && *p != ' ') ++p;
        if (!is_number(start, p)) return kMalformed;
        ++tokens;
    }
    return tokens;
}

bool is_code(int value)
{
    return static_cast<unsigned>(value) < static_cast<unsigned>(kCodes);
}

// Counts the codes among the first tokens values into one histogram per
// channel. The counters are found first, for all the channels at once,
// which the compiler does in vector steps; a value that is no code is
// counted in the row's padding, which nothing reads, so that no branch
// depends on the values.
void count_codes(const int* values, int tokens, LineNumber (*histogram)[kCodeRow])
{
    int at[kNChan];
    for (int chan = 0; chan < kNChan; ++chan) {
        const int value = values[chan];
        at[chan] = chan * kCodeRow + (is_code(value) ? value : kNoCode);
    }
    LineNumber* const counters = histogram[0];
    for (int chan = 0; chan < tokens; ++chan) ++counters[at[chan]];
}

// Whether at least kPulseChannels of the first tokens values are 0 or 1;
// over all the channels, in vector steps.
bool is_pulse_line(const int* values, int tokens)
{
    int low = 0;
    for (int chan = 0; chan < kNChan; ++chan) low += (chan < tokens) & (static_cast<unsigned>(values[chan]) <= 1);
    return low >= kPulseChannels;
}

// Whether the line holds nothing but digits and spaces up to the end of
// its last counted token, and no NUL after it. The kernel may have seen to
// the first part (plain_bytes), up to that token's last digit: what
// follows ends it only if it is a space, or the line's end.
bool plain_line(const char* line, const char* end, int reached, int plain_bytes)
{
    const char* const rest = line + plain_bytes;
    if (plain_bytes == 0) return digits_and_spaces(line, end);
    if (rest >= end) return true;
    return reached == kNChan && *rest == ' ' && std::memchr(rest, '\0', end - rest) == nullptr;
}

// Tallies a scanned line, whose first reached values the kernel left in
// codes.line, for the survey: what kind of line it is and its codes.
void tally_line(const char* line, const char* end, int reached, CodeTally& codes)
{
    ++codes.lines_reaching[reached];
    const bool plain = plain_line(line, end, reached, codes.line.plain_bytes);
    const int tokens = plain ? reached : counted_tokens(line, end);
    if (tokens == kMalformed) {
        ++codes.malformed;
        return;
    }
    if (tokens == 0) return;  // blank
    if (tokens < kNChan) ++codes.short_lines;
    const int* const values = codes.line.values;
    count_codes(values, tokens, codes.histogram);
    if (!is_pulse_line(values, tokens)) return;
    ++codes.pulses;
    count_codes(values, tokens, codes.pulse_histogram);
}

// Each channel's codes lie within its range, which the kernel keeps for
// tavrin anyway: no bin outside it was touched.
void mark_stretches(const Tally& tally, CodeTally& codes)
{
    for (int chan = 0; chan < kNChan; ++chan) {
        codes.lowest[chan] = tally.minimum[chan] > 0 ? tally.minimum[chan] : 0;
        codes.highest[chan] = tally.maximum[chan] < kCodes - 1 ? tally.maximum[chan] : kCodes - 1;
    }
}

// --- the block reader -------------------------------------------------------

// The text is read in blocks. An unfinished line is moved to the front of
// the buffer and completed by the next block; it always fits, since a line
// over the limit ends the scan. Lines are counted in a local, which the
// compiler keeps in a register, and handed to the tally at the end.
int scan_text(const char* path, Tally& tally, std::size_t block_bytes, CodeTally* codes)
{
    char* const buffer = read_buffer;
    std::size_t pending = 0;  // bytes of the unfinished line at the front
    LineNumber lines = 0;
    int status = 0;
    for (;;) {
        const ssize_t got = codecs::read_text(buffer + pending, block_bytes);
        if (got < 0) {
            status = fail_because(path, codecs::reason());
            break;
        }
        if (got == 0) break;
        const char* line = buffer;
        const char* const end = buffer + pending + got;
        for (;;) {
            // A blank line holds no value: it is counted, not searched or scanned.
            for (; line < end && *line == '\n'; ++line) ++lines;
            const char* const newline = static_cast<const char*>(std::memchr(line, '\n', end - line));
            if (newline == nullptr || newline - line >= kMaxLineLength) break;
            ++lines;
            const int reached = scan::fold_line(line, newline - line, tally.minimum, tally.maximum,
                                                codes != nullptr ? &codes->line : nullptr);
            if (codes != nullptr) tally_line(line, newline, reached, *codes);
            line = newline + 1;
        }
        pending = end - line;
        if (pending >= kMaxLineLength) {
            status = stop_at_long_line(path, lines + 1);
            break;
        }
        std::memmove(buffer, line, pending);
    }
    tally.lines = lines;
    if (codes != nullptr) mark_stretches(tally, *codes);
    if (status == 0 && pending > 0) {
        tally.unfinished = true;
        std::fprintf(stderr, "%s: %s: line %lld: no newline at the end, line ignored\n", kProgramName, path,
                     static_cast<long long>(lines + 1));
    }
    return status;
}

}  // namespace

void start_tally(Tally& tally)
{
    std::fill(std::begin(tally.minimum), std::end(tally.minimum), kNoMinimum);
    std::fill(std::begin(tally.maximum), std::end(tally.maximum), kNoMaximum);
    tally.lines = 0;
    tally.unfinished = false;
}

void start_codes(CodeTally& codes)
{
    std::fill(std::begin(codes.line.bits.all), std::end(codes.line.bits.all), scan::kMaxCode);
    std::fill(std::begin(codes.line.bits.any), std::end(codes.line.bits.any), 0);
    std::fill(std::begin(codes.lines_reaching), std::end(codes.lines_reaching), 0);
    for (int chan = 0; chan < kNChan; ++chan) {
        const int lowest = codes.lowest[chan];
        const int highest = codes.highest[chan];
        if (lowest <= highest) {
            std::fill(codes.histogram[chan] + lowest, codes.histogram[chan] + highest + 1, 0);
            std::fill(codes.pulse_histogram[chan] + lowest, codes.pulse_histogram[chan] + highest + 1, 0);
        }
        codes.lowest[chan] = kCodes;
        codes.highest[chan] = -1;
    }
    codes.malformed = codes.short_lines = codes.pulses = 0;
}

// The text of a compressed file is the recording, read as a plain one.
int scan_file(int fd, const char* path, Tally& tally, std::size_t block_bytes, CodeTally* codes)
{
    if (codecs::open_text(fd) != 0) return fail_because(path, codecs::reason());
    const int status = scan_text(path, tally, block_bytes, codes);
    codecs::close_text();
    return status;
}

AdcBits adc_bits(int code)
{
    AdcBits bits;
    for (int bit = 0; bit < kAdcBits; ++bit) {
        bits.digits[bit] = (code >> (kAdcBits - 1 - bit)) & 1 ? '1' : '0';
    }
    bits.digits[kAdcBits] = '\0';
    return bits;
}

int write_all(int fd, const char* data, std::size_t size, std::size_t& written)
{
    written = 0;
    while (written < size) {
        const ssize_t put = write(fd, data + written, size - written);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        written += put;
    }
    return 0;
}

int fail_because(const char* file, const char* reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", kProgramName, file, reason);
    return 1;
}

int fail(const char* file, int error)
{
    return fail_because(file, std::strerror(error));
}

namespace {

// Fills closed standard descriptors with /dev/null, so that no file the
// process opens lands on them: the range log must never receive console
// text, nor a recording be read from where a row was meant to go. Opened
// for reading only, a closed standard output or error still fails every
// write, as it did while closed. Returns 0, or errno.
bool closed_at_start[STDERR_FILENO + 1];

int guard_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        closed_at_start[fd] = true;
        const int null = open("/dev/null", O_RDONLY);
        if (null != fd) return null < 0 ? errno : EBADF;
    }
    return 0;
}

int guard_error = 0;

void guard_before_libraries(int, char**, char**)
{
    guard_error = guard_standard_descriptors();
}

// The guard runs from the executable's .preinit_array, before the
// initialisers of the libraries it links: the framework's open files of
// their own (its configuration, the name service's), which must not take a
// closed standard descriptor's place either.
__attribute__((section(".preinit_array"), used)) void (*preinit_guard)(int, char**, char**) =
    guard_before_libraries;

}  // namespace

int standard_descriptors_guard_error()
{
    return guard_error;
}

bool standard_descriptor_was_closed(int fd)
{
    return closed_at_start[fd];
}
