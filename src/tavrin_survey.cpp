// tavrin-survey: surveys an archive of recordings in one process, one
// tab-separated row per recording: how it was read, the channels that
// tavrin reports as stuck, those that received no value, every channel's
// range and count of values, and the bits of its ADC codes that never
// toggled. It reads each recording as tavrin does and writes nothing but
// its standard output and standard error.

#include "recording.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The diagnostics' name.
extern const char kProgramName[] = "tavrin-survey";

namespace {

const int kUsageStatus = 2;

const char kUsage[] = "Usage: tavrin-survey [--no-header] [--files0-from=F] [FILE...]\n";
const char kHelp[] =
    "Surveys recordings of a 32-channel ADC readout chip, as tavrin reads them,\n"
    "and writes one tab-separated row per recording, in the order given.\n"
    "\n"
    "      --no-header       leave out the header line\n"
    "      --files0-from=F   after the FILEs, read the recordings named in F,\n"
    "                        each name ended by a NUL; F - is standard input\n"
    "      --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "Columns: file, status, lines, unfinished, stuck, empty, min, max, values,\n"
    "always1, always0; see tavrin-survey(1). Exit status: 0 when every recording\n"
    "was read to its end, 1 when any was not, 2 for a usage error.\n";
const char kVersion[] =
    "tavrin-survey (tavrin) " TAVRIN_VERSION "\n"
    "Copyright (c) 2026 The tavrin developers\n"
    "License MIT: <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";
const char kHeader[] = "file\tstatus\tlines\tunfinished\tstuck\tempty\tmin\tmax\tvalues\talways1\talways0\n";

// A row's columns after the file's name take at most: a status, a line
// count and a flag; two lists of channels of up to three characters each;
// three lists of 32 numbers of up to 20 characters each; two of 32 groups
// of ten binary digits; and a tab or comma after each item.
const std::size_t kMaxColumnsBytes = 2 + 21 + 2 + 2 * kNChan * 3 + 3 * kNChan * 21 + 2 * kNChan * 11 + 1;

// --- writing rows -------------------------------------------------------------

// The row being formatted, in a buffer that grows with the longest name.
char* row = nullptr;
std::size_t row_capacity = 0;

// Makes room for a row whose name is name_length bytes long, each of which
// may take two when escaped. Returns false when there is no memory for it.
bool make_room(std::size_t name_length)
{
    const std::size_t needed = 2 * name_length + kMaxColumnsBytes;
    if (needed <= row_capacity) return true;
    char* const grown = static_cast<char*>(std::realloc(row, needed));
    if (grown == nullptr) return false;
    row = grown;
    row_capacity = needed;
    return true;
}

// Writes text to standard output in one write(2), going on after a short
// one; a failure is reported and ends the run, since no later row could
// reach the reader either.
void write_out(const char* text, std::size_t size)
{
    std::size_t written;
    const int error = write_all(STDOUT_FILENO, text, size, written);
    if (error != 0) std::exit(fail("standard output", error));
}

char* put_text(char* at, const char* text)
{
    while (*text != '\0') *at++ = *text++;
    return at;
}

char* put_number(char* at, long long value)
{
    char digits[24];
    char* first = digits + sizeof digits;
    unsigned long long magnitude = value < 0 ? 0 - static_cast<unsigned long long>(value) : value;
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *at++ = '-';
    while (first < digits + sizeof digits) *at++ = *first++;
    return at;
}

// The name as given, with its backslashes, tabs and newlines escaped, so
// that each row stays one line of the right columns.
char* put_name(char* at, const char* name)
{
    for (; *name != '\0'; ++name) {
        const char escaped = *name == '\\' ? '\\' : *name == '\t' ? 't' : *name == '\n' ? 'n' : '\0';
        if (escaped != '\0') {
            *at++ = '\\';
            *at++ = escaped;
        } else {
            *at++ = *name;
        }
    }
    return at;
}

// Ends a column; the row's last one ends the line.
char* end_column(char* at, bool last = false)
{
    *at++ = last ? '\n' : '\t';
    return at;
}

// The channels for which chosen is set, ascending, comma-separated.
char* put_channels(char* at, const bool (&chosen)[kNChan])
{
    const char* separator = "";
    for (int chan = 0; chan < kNChan; ++chan) {
        if (!chosen[chan]) continue;
        at = put_number(put_text(at, separator), chan);
        separator = ",";
    }
    return at;
}

template <typename Number>
char* put_numbers(char* at, const Number (&numbers)[kNChan])
{
    for (int chan = 0; chan < kNChan; ++chan) at = put_number(chan == 0 ? at : put_text(at, ","), numbers[chan]);
    return at;
}

// For each channel, in tavrin's binary digits, the bits that were 1 in all
// of its codes (ones) or 0 in all of them; "-" for a channel that received
// no code, which is the one state in which all holds bits outside any.
char* put_steady_bits(char* at, const scan::CodeBits& bits, bool ones)
{
    for (int chan = 0; chan < kNChan; ++chan) {
        if (chan > 0) *at++ = ',';
        const bool no_code = (bits.all[chan] & ~bits.any[chan]) != 0;
        if (no_code) {
            *at++ = '-';
        } else {
            at = put_text(at, adc_bits(ones ? bits.all[chan] : ~bits.any[chan]).digits);
        }
    }
    return at;
}

// Formats the recording's row into row; returns its length.
std::size_t format_row(const char* name, int status, const Tally& tally)
{
    LineNumber values[kNChan];
    bool stuck[kNChan];
    bool empty[kNChan];
    LineNumber reaching = 0;  // lines that gave channel chan a value, counted down from the last channel
    for (int chan = kNChan - 1; chan >= 0; --chan) {
        reaching += tally.lines_reaching[chan + 1];
        values[chan] = reaching;
        stuck[chan] = tally.minimum[chan] > kHighestUnstuckMinimum;
        empty[chan] = reaching == 0;
    }
    char* at = end_column(put_name(row, name));
    at = end_column(put_number(at, status));
    at = end_column(put_number(at, tally.lines));
    at = end_column(put_number(at, tally.unfinished));
    at = end_column(put_channels(at, stuck));
    at = end_column(put_channels(at, empty));
    at = end_column(put_numbers(at, tally.minimum));
    at = end_column(put_numbers(at, tally.maximum));
    at = end_column(put_numbers(at, values));
    at = end_column(put_steady_bits(at, tally.bits, true));
    at = end_column(put_steady_bits(at, tally.bits, false), true);
    return at - row;
}

// --- surveying ----------------------------------------------------------------

// Reads the recording at path and writes its row, whether it could be read
// or not. Returns 0 when it was read to its end, otherwise 1.
int survey(const char* path)
{
    static Tally tally;  // off the stack, as the read buffer
    start_tally(tally);
    int status = 0;
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        status = fail(path, errno);
    } else {
        status = scan_file(fd, path, tally, kMaxBlockBytes, true);
        close(fd);
    }
    if (!make_room(std::strlen(path))) std::exit(fail(path, ENOMEM));
    write_out(row, format_row(path, status, tally));
    return status;
}

// Surveys the recordings named in the file list, each name ended by a NUL
// (the last one may end with the file). Returns 0, or 1 when any failed.
int survey_listed(const char* list)
{
    const bool from_input = std::strcmp(list, "-") == 0;
    // A closed standard input holds /dev/null now: reading it as an empty
    // list would pass for success.
    if (from_input && standard_descriptor_was_closed(STDIN_FILENO)) return fail(list, EBADF);
    std::FILE* const names = from_input ? stdin : std::fopen(list, "r");
    if (names == nullptr) return fail(list, errno);
    int status = 0;
    char* name = nullptr;
    std::size_t capacity = 0;
    for (long number = 1;; ++number) {
        errno = 0;
        const ssize_t length = getdelim(&name, &capacity, '\0', names);
        if (length < 0) break;
        if (length == 1 && name[0] == '\0') {
            char reason[64];
            std::snprintf(reason, sizeof reason, "name %ld is empty", number);
            status = fail_because(list, reason);
            continue;
        }
        status |= survey(name);
    }
    if (std::ferror(names)) status = fail(list, errno != 0 ? errno : EIO);
    std::free(name);
    if (!from_input) std::fclose(names);
    return status;
}

// Prints the texts on standard output for --help and --version; returns
// the exit status, 1 after reporting a failed write.
int print_texts(const char* first, const char* second = "")
{
    std::fputs(first, stdout);
    std::fputs(second, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail("standard output", errno != 0 ? errno : EIO);
    return 0;
}

// Reports a usage error as GNU tools do: the problem, if any, then where
// help is. Returns the usage error's status.
int usage_error(const char* problem = nullptr)
{
    if (problem != nullptr) std::fprintf(stderr, "%s: %s\n", kProgramName, problem);
    std::fprintf(stderr, "%sTry 'tavrin-survey --help' for more information.\n", problem == nullptr ? kUsage : "");
    return kUsageStatus;
}

// The long options, numbered past every character that names a short one.
enum Option { kNoHeader = 256, kFilesFrom, kHelpOption, kVersionOption };

// What getopt_long refused in the argument just read (arg), which it tells
// by optopt: a short option it does not know, a long one given an argument
// it takes none of, a long one it does not know, or (missing) a long one
// without its argument. Returns the usage error's status.
int refused_option(const char* arg, bool missing)
{
    const int name_length = static_cast<int>(std::strcspn(arg, "="));
    char problem[256];
    if (missing) {
        std::snprintf(problem, sizeof problem, "option '%.*s' requires an argument", name_length, arg);
    } else if (optopt >= kNoHeader) {
        std::snprintf(problem, sizeof problem, "option '%.*s' doesn't allow an argument", name_length, arg);
    } else if (optopt != 0) {
        std::snprintf(problem, sizeof problem, "invalid option -- '%c'", optopt);
    } else {
        std::snprintf(problem, sizeof problem, "unrecognized option '%.200s'", arg);
    }
    return usage_error(problem);
}

}  // namespace

int main(int argc, char** argv)
{
    if (standard_descriptors_guard_error() != 0) return fail("/dev/null", standard_descriptors_guard_error());
    // A reader that has gone is a failed write, reported, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    static const struct option kOptions[] = {
        {"no-header", no_argument, nullptr, kNoHeader},
        {"files0-from", required_argument, nullptr, kFilesFrom},
        {"help", no_argument, nullptr, kHelpOption},
        {"version", no_argument, nullptr, kVersionOption},
        {nullptr, 0, nullptr, 0},
    };
    bool header = true;
    const char* list = nullptr;
    opterr = 0;  // the messages are this program's own
    for (int option; (option = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
        switch (option) {
        case kNoHeader: header = false; break;
        case kFilesFrom: list = optarg; break;
        case kHelpOption: return print_texts(kUsage, kHelp);
        case kVersionOption: return print_texts(kVersion);
        case ':': return refused_option(argv[optind - 1], true);
        default: return refused_option(argv[optind - 1], false);
        }
    }
    if (optind == argc && list == nullptr) return usage_error();
    if (header) write_out(kHeader, sizeof kHeader - 1);
    int status = 0;
    for (int arg = optind; arg < argc; ++arg) status |= survey(argv[arg]);
    if (list != nullptr) status |= survey_listed(list);
    return status;
}
