// Batches of whole rows on standard output, and the cut-back of a row that
// a failed write left cut short.
#include "row_output.h"

#include "recording.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace output {
namespace {

const std::size_t kFileBatchBytes = 65536;

char* batch = nullptr;
std::size_t used = 0;
std::size_t capacity = 0;
std::size_t limit = PIPE_BUF;
bool regular = false;  // standard output is a regular file

// Blocks every signal that can be blocked while a batch goes into a
// regular file and a part of a row is cut back: a signal that ends the run
// in the middle of write(2) would leave part of a row. A pipe takes a batch
// whole or not at all, and a survey blocked on one must stay stoppable.
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

// The bytes of the written part of the batch after its last whole row.
std::size_t part_of_row(std::size_t written)
{
    std::size_t whole = written;
    while (whole > 0 && batch[whole - 1] != '\n') --whole;
    return written - whole;
}

// Removes the part of a row that ends at the output's offset, while it is
// still the end of the file; the offset goes back with it, since other
// surveys may share it. Returns 0, or why the part stays.
const char* cut_back(std::size_t part)
{
    if (!regular) return "a row is left cut short";
    const off_t end = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    struct stat now;
    if (end < 0 || fstat(STDOUT_FILENO, &now) != 0 || now.st_size != end) {
        return "a row is left cut short, since more was written after it";
    }
    const off_t kept = end - static_cast<off_t>(part);
    int cut;
    while ((cut = ftruncate(STDOUT_FILENO, kept)) != 0 && errno == EINTR) {
    }
    if (cut != 0 || lseek(STDOUT_FILENO, kept, SEEK_SET) != kept) return "a row is left cut short";
    return nullptr;
}

// Reports the failed write, whose error is error, after cutting back the
// part of a row it left, and ends the run.
void fail_write(int error, std::size_t part)
{
    const char* const left = part > 0 ? cut_back(part) : nullptr;
    char reason[160];
    std::snprintf(reason, sizeof reason, "%s%s%s", std::strerror(error), left != nullptr ? "; " : "",
                  left != nullptr ? left : "");
    std::exit(fail_because("standard output", reason));
}

// Writes the batch, holding the signals around the write to a regular file.
void write_batch()
{
    if (used == 0) return;
    sigset_t saved;
    if (regular) hold_signals(saved);
    std::size_t written;
    const int error = write_all(STDOUT_FILENO, batch, used, written);
    if (error != 0) fail_write(error, part_of_row(written));  // ends the run with the signals held
    if (regular) release_signals(saved);
    used = 0;
}

}  // namespace

void start()
{
    struct stat status;
    regular = fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
    limit = regular ? kFileBatchBytes : PIPE_BUF;
}

char* row_room(std::size_t size)
{
    if (used + size > limit) write_batch();
    if (used + size > capacity) {
        const std::size_t wanted = size > limit ? size : limit;
        char* const grown = static_cast<char*>(std::realloc(batch, wanted));
        if (grown == nullptr) return nullptr;
        batch = grown;
        capacity = wanted;
    }
    return batch + used;
}

void row_done(const char* end)
{
    used = end - batch;
}

void recording_done()
{
    if (!regular) write_batch();
}

void finish()
{
    write_batch();
}

}  // namespace output
