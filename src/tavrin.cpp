// tavrin: finds the channels of a 32-channel ADC readout chip whose samples
// never come down to 0 or 1 (a bit stuck at 1), appends every channel's
// range to a log and prints a stuck-channel report.

#include "recording.h"

#include <TString.h>
#include <TStyle.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The diagnostics' name.
extern const char kProgramName[] = "tavrin";

namespace {

// Bytes read from the sample file at a time. The build sets it; the tests
// use a tiny block so that lines straddle block boundaries everywhere.
constexpr std::size_t kBlockSize = TAVRIN_BLOCK_BYTES;
static_assert(kBlockSize > 0 && kBlockSize <= kMaxBlockBytes, "a block fits the read buffer");

constexpr char kLogHeader[] = "Ch   Min   Max\n";
// A row holds the channel and two ints of up to 11 characters each.
constexpr std::size_t kMaxLogRowBytes = 2 + 2 + 11 + 2 + 11 + 1;
constexpr std::size_t kMaxLogBlockBytes =
    sizeof kLogHeader + kNChan * kMaxLogRowBytes;

int clamp_to_int(long value)
{
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Formats the range table, header and one row per channel; returns its size.
std::size_t format_block(char (&block)[kMaxLogBlockBytes], const int (&minimum)[kNChan],
                         const int (&maximum)[kNChan])
{
    std::size_t size = std::snprintf(block, sizeof block, "%s", kLogHeader);
    for (int chan = 0; chan < kNChan; ++chan) {
        size += std::snprintf(block + size, sizeof block - size, "%2d  %4d  %4d\n", chan,
                              minimum[chan], maximum[chan]);
    }
    return size;
}

// Blocks every signal that can be blocked, so that none ends the run while
// the log is being written or cut back: a signal that kills the process in
// the middle of write(2) leaves the part of the block written so far.
// Blocked signals wait, and arrive when the old mask is restored.
void hold_signals(sigset_t& saved)
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &saved);
}

void release_signals(const sigset_t& saved)
{
    sigprocmask(SIG_SETMASK, &saved, nullptr);
}

// Takes the log's lock, waiting for the other runs that share the log.
// Where it cannot be had at all (ENOLCK, as on NFS without a lock
// manager), the run appends without it: its block still goes in whole,
// and its cut-back checks that nothing follows its part of a block.
void lock_log(int log)
{
    while (flock(log, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// A FIFO takes the block whole or not at all, since it is shorter than
// PIPE_BUF, and is never cut back: a run writing to one whose reader has
// stopped reading must stay stoppable.
bool needs_held_signals(int log)
{
    struct stat status;
    return fstat(log, &status) != 0 || !S_ISFIFO(status.st_mode);
}

// Removes the written bytes of this run's cut-off block, which end at the
// log's offset (O_APPEND leaves it after them), but only while they are
// still the last bytes of the log: whatever another program appended after
// them (a run that had no lock, or a writer that takes none) stays, and so
// does the partial block then, reported.
void cut_back(int log, const char* log_path, std::size_t written)
{
    const off_t end = lseek(log, 0, SEEK_CUR);
    struct stat now;
    if (end < 0 || fstat(log, &now) != 0) {
        fail(log_path, errno);
        return;
    }
    if (now.st_size != end) {
        fail_because(log_path, "part of a block left in the log: more was appended after it");
        return;
    }
    int cut;
    while ((cut = ftruncate(log, end - static_cast<off_t>(written))) != 0 && errno == EINTR) {
    }
    if (cut != 0) fail(log_path, errno);
}

// Appends the block to the log, or leaves the log as it was: a block cut
// off by a full disk or a size limit would glue the next run's header onto
// a broken row. The lock keeps other runs from appending between this
// run's write and its cut-back; signals are held only once it is taken, so
// that a run waiting for it can still be stopped. Returns 0, or errno of
// the failed write; a failed cut is reported here, since only this knows
// the log is now broken.
int append_or_cut_back(int log, const char* log_path, const char* block, std::size_t size)
{
    lock_log(log);
    sigset_t saved;
    const bool hold = needs_held_signals(log);
    if (hold) hold_signals(saved);
    std::size_t written;
    const int error = write_all(log, block, size, written);
    if (error != 0 && written > 0) cut_back(log, log_path, written);
    if (hold) release_signals(saved);
    return error;
}

// Appends the whole table in one write and closes the log, so that runs
// sharing a log never interleave and a run cut short leaves no partial
// table. Returns 0, or 1 after reporting a failed write or close.
int append_block(int log, const char* log_path, const int (&minimum)[kNChan],
                 const int (&maximum)[kNChan])
{
    static char block[kMaxLogBlockBytes];  // off the stack, as the read buffer
    const std::size_t size = format_block(block, minimum, maximum);
    const int error = append_or_cut_back(log, log_path, block, size);
    if (error != 0) {
        close(log);
        return fail(log_path, error);
    }
    if (close(log) != 0) return fail(log_path, errno);
    return 0;
}

// Opens the range log for appending. A log that is a FIFO must not keep
// the run waiting for a reader that may never come: without one, the open
// fails with ENXIO. Blocking mode comes back at once, so that a slow reader
// gets the whole block. Returns the descriptor, or -1 with errno set.
int open_log(const char* log_path)
{
    const int log = open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (log < 0) return -1;
    const int flags = fcntl(log, F_GETFL);
    if (flags < 0 || fcntl(log, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close(log);
        errno = error;
        return -1;
    }
    return log;
}

// Prints a console line and flushes it, so that a failed write to standard
// output shows at once; keeps the reason of the first failure. Console
// text goes through C stdio, which the C library alone provides.
void console_line(int& console_error, const char* format, ...) __attribute__((format(printf, 2, 3)));

void console_line(int& console_error, const char* format, ...)
{
    errno = 0;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
    if (failed && console_error == 0) console_error = errno != 0 ? errno : EIO;
}

// Lists the channels whose minimum never came down to 0 or 1. A bit stuck
// at 1 stays set in the minimum, so its binary form shows which one.
void report_stuck(const int (&minimum)[kNChan], int& console_error)
{
    int nstuck = 0;
    for (const int low : minimum) {
        if (low > kHighestUnstuckMinimum) ++nstuck;
    }
    if (nstuck == 0) return;
    console_line(console_error, " nstuck %d", nstuck);
    for (int chan = 0; chan < kNChan; ++chan) {
        const int low = minimum[chan];
        if (low <= kHighestUnstuckMinimum) continue;
        console_line(console_error, " stuck chan %d min dec %d hex %x bin %s", chan, low,
                     static_cast<unsigned>(low), adc_bits(low).digits);
    }
}

// The directory part of the sample path, which receives the range log: the
// first length bytes of text. A bare file name lies in the current directory.
struct Directory {
    const char* text;
    int length;
};

Directory directory_of(const char* path)
{
    const char* const slash = std::strrchr(path, '/');
    if (slash == nullptr) return {".", 1};
    return {path, static_cast<int>(slash - path)};
}

void print_usage(int argc)
{
    std::printf("not enough arguments: argc = %d\nSyntax should be:\n"
                "./zelquist.exe chipstring config adcfilename\n",
                argc);
    std::printf("Example:\n./tavrin.exe 171741 20mV_delay-all "
                "/home/nuv/robot/20180911/091954_sta2_sampa171471/"
                "091954_sta2_sampa171471_quirn00_link02_20mV_delay-all_adc.txt\n");
}

}  // namespace

// Scans the sample file, appends the channel ranges to the range log and
// reports the stuck channels. Every output is produced from whatever could
// be read; the result is 1 when anything failed, otherwise 0.
int analyse_file(int /*chip*/, const char* sample_path, const char* log_path,
                 const char* /*config*/)
{
    gStyle->SetOptStat(0);
    gStyle->SetOptFit(73);
    gStyle->SetStatX(0.5);

    int status = 0;
    const int log = open_log(log_path);
    if (log < 0) status = fail(log_path, errno);
    const int fd = open(sample_path, O_RDONLY);
    if (fd < 0) status = fail(sample_path, errno);

    int console_error = 0;
    console_line(console_error, " reading file %s", sample_path);
    console_line(console_error, " writing file %s", log_path);

    static Tally tally;  // off the stack, as the read buffer
    start_tally(tally);
    if (fd >= 0 && scan_file(fd, sample_path, tally, kBlockSize, nullptr) != 0) status = 1;
    if (log >= 0 && append_block(log, log_path, tally.minimum, tally.maximum) != 0) status = 1;

    report_stuck(tally.minimum, console_error);
    if (fd >= 0) close(fd);
    if (console_error != 0) status = fail("standard output", console_error);
    return status;
}

int main(int argc, char** argv)
{
    if (standard_descriptors_guard_error() != 0) return fail("/dev/null", standard_descriptors_guard_error());
    // A vanished reader or a file size limit must show as a failed write
    // that is reported, not kill the run before its block is appended.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // The framework, where it is linked, takes these two over to keep its
    // own processes going; tavrin uses neither, so they end it as they end
    // any program.
    std::signal(SIGALRM, SIG_DFL);
    std::signal(SIGUSR2, SIG_DFL);
    if (argc <= 3) {
        print_usage(argc);
        return -1;
    }
    const int chip = clamp_to_int(std::strtol(argv[1], nullptr, 10));
    const Directory directory = directory_of(argv[3]);
    const char* const log_path = Form("%.*s/zelquist_sampa%s_%s.log", directory.length,
                                      directory.text, argv[1], argv[2]);
    return analyse_file(chip, argv[3], log_path, argv[2]);
}
