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

// The text is read in blocks. An unfinished line is moved to the front of
// the buffer and completed by the next block; it always fits, since a line
// over the limit ends the scan. Lines are counted in a local, which the
// compiler keeps in a register, and handed to the tally at the end.
int scan_text(const char* path, Tally& tally, std::size_t block_bytes, scan::CodeBits* bits)
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
            const int reached = scan::fold_line(line, newline - line, tally.minimum, tally.maximum, bits);
            // Counting them costs tavrin, which reports no counts, 5 % of
            // its scan: the counters are the survey's alone.
            if (bits != nullptr) ++tally.lines_reaching[reached];
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
    std::fill(std::begin(tally.bits.all), std::end(tally.bits.all), scan::kMaxCode);
    std::fill(std::begin(tally.bits.any), std::end(tally.bits.any), 0);
    std::fill(std::begin(tally.lines_reaching), std::end(tally.lines_reaching), 0);
    tally.lines = 0;
    tally.unfinished = false;
}

// The text of a compressed file is the recording, read as a plain one.
int scan_file(int fd, const char* path, Tally& tally, std::size_t block_bytes, bool with_bits)
{
    if (codecs::open_text(fd) != 0) return fail_because(path, codecs::reason());
    const int status = scan_text(path, tally, block_bytes, with_bits ? &tally.bits : nullptr);
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
