// Text in memory, and its way to a file that is either as it was or whole.
#include "report_text.h"

#include "recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace report {

void Text::add(const char* text)
{
    add(text, std::strlen(text));
}

void Text::add(const char* text, std::size_t length)
{
    chars_.append(text, length);
}

void Text::format(const char* format, ...)
{
    char item[kMaxFormatted];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(item, sizeof item, format, arguments);
    va_end(arguments);
    if (length > 0) add(item, static_cast<std::size_t>(length) < sizeof item ? length : sizeof item - 1);
}

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence at text, or 0 when it is none (an
// overlong form, a surrogate or a code point past U+10FFFF included).
std::size_t utf8_length(const unsigned char* text, std::size_t left)
{
    const unsigned char lead = text[0];
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || length > left) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
    }
    const unsigned char second = text[1];
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0)) return 0;
    if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) return 0;
    return length;
}

}  // namespace

void Text::markup(const char* text, std::size_t length)
{
    const unsigned char* const bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const unsigned char byte = bytes[i];
        if (byte >= 0x80) {
            const std::size_t sequence = utf8_length(bytes + i, length - i);
            add(sequence == 0 ? kReplacement : text + i, sequence == 0 ? sizeof kReplacement - 1 : sequence);
            i += sequence == 0 ? 1 : sequence;
            continue;
        }
        switch (byte) {
        case '&': add("&amp;"); break;
        case '<': add("&lt;"); break;
        case '>': add("&gt;"); break;
        case '"': add("&quot;"); break;
        case '\'': add("&#39;"); break;
        default: byte < 0x20 ? add(kReplacement) : chars_.push(static_cast<char>(byte));
        }
        ++i;
    }
}

void Text::markup(const char* text)
{
    markup(text, std::strlen(text));
}

void Text::field(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        const char escaped = text[i] == '\\' ? '\\' : text[i] == '\t' ? 't' : text[i] == '\n' ? 'n' : '\0';
        if (escaped == '\0') {
            chars_.push(text[i]);
        } else {
            chars_.push('\\');
            chars_.push(escaped);
        }
    }
}

// --- outputs ------------------------------------------------------------------

namespace {

// The temporary files being written, removed by a signal that ends the
// run before they are renamed into place.
const int kMaxOutputs = 2;
char* volatile temporaries[kMaxOutputs];

void remove_temporaries_and_end(int signal)
{
    for (int i = 0; i < kMaxOutputs; ++i) {
        if (temporaries[i] != nullptr) unlink(temporaries[i]);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void watch(Output& output)
{
    static bool handled = false;
    if (!handled) {
        for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2}) {
            struct sigaction action = {};
            action.sa_handler = remove_temporaries_and_end;
            sigfillset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
        }
        handled = true;
    }
    for (int i = 0; i < kMaxOutputs; ++i) {
        if (temporaries[i] == nullptr) {
            temporaries[i] = output.temporary;
            return;
        }
    }
}

void unwatch(Output& output)
{
    for (int i = 0; i < kMaxOutputs; ++i) {
        if (temporaries[i] == output.temporary) temporaries[i] = nullptr;
    }
}

// Writes the text to the descriptor; returns 0 or errno.
int write_text(int fd, const Text& text)
{
    std::size_t written;
    return write_all(fd, text.data(), text.size(), written);
}

// The mode a new file at path gets, or that of the file it replaces.
mode_t mode_for(const struct stat& status, bool exists)
{
    if (exists) return status.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool writes_in_place(const Output& output, const struct stat& status, bool exists)
{
    return std::strcmp(output.path, "-") == 0 || (exists && !S_ISREG(status.st_mode));
}

// Where the new file goes: the path, or the file that it leads to.
const char* destination(const Output& output)
{
    return output.target[0] != '\0' ? output.target : output.path;
}

// Resolves a path that is a symbolic link into the output's target, so
// that the file it leads to is replaced and the link stays. Returns 0, or
// errno when the link leads to no file that a path names: none at all, or
// one that was removed (behind /proc/self/fd, say).
int follow_link(Output& output)
{
    struct stat link;
    if (lstat(output.path, &link) != 0 || !S_ISLNK(link.st_mode)) return 0;
    if (realpath(output.path, output.target) != nullptr) return 0;
    const int error = errno;
    output.target[0] = '\0';  // whatever realpath left there
    return error;
}

// The temporary file's name: ".<name>.XXXXXX" in the directory of the
// file to replace.
int name_temporary(Output& output)
{
    const char* const path = destination(output);
    const char* const slash = std::strrchr(path, '/');
    const int directory = slash == nullptr ? 0 : static_cast<int>(slash - path + 1);
    const int length = std::snprintf(output.temporary, sizeof output.temporary, "%.*s.%s.XXXXXX", directory, path,
                                     path + directory);
    return length < 0 || static_cast<std::size_t>(length) >= sizeof output.temporary ? ENAMETOOLONG : 0;
}

// Fills the open temporary file; returns 0 or errno.
int fill_temporary(int fd, const Output& output, mode_t mode)
{
    int error = write_text(fd, *output.text);
    if (error == 0 && fchmod(fd, mode) != 0) error = errno;
    // Flushed before the rename, so that a crash of the machine leaves the
    // old file or the new one, never an empty one in its place.
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

int prepare(Output& output)
{
    output.fd = -1;
    output.temporary[0] = '\0';
    output.target[0] = '\0';
    struct stat status;
    const bool exists = stat(output.path, &status) == 0;
    if (writes_in_place(output, status, exists)) return 0;
    int error = follow_link(output);
    // A link to a file that has no name left is written through, in
    // place; one that leads to no file at all is refused.
    if (error != 0) return exists ? 0 : fail(output.path, error);
    error = name_temporary(output);
    if (error != 0) return fail(output.path, error);
    watch(output);
    const int fd = mkstemp(output.temporary);
    if (fd < 0) {
        error = errno;
        unwatch(output);
        output.temporary[0] = '\0';
        return fail(output.path, error);
    }
    error = fill_temporary(fd, output, mode_for(status, exists));
    if (error != 0) {
        discard(output);
        return fail(output.path, error);
    }
    return 0;
}

int commit(Output& output)
{
    if (output.temporary[0] != '\0') {
        const int error = rename(output.temporary, destination(output)) == 0 ? 0 : errno;
        if (error != 0) discard(output);
        unwatch(output);
        output.temporary[0] = '\0';
        return error == 0 ? 0 : fail(output.path, error);
    }
    const bool standard = std::strcmp(output.path, "-") == 0;
    const int fd = standard ? STDOUT_FILENO : open(output.path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(output.path, errno);
    int error = write_text(fd, *output.text);
    if (!standard && close(fd) != 0 && error == 0) error = errno;
    return error == 0 ? 0 : fail(standard ? "standard output" : output.path, error);
}

void discard(Output& output)
{
    if (output.temporary[0] == '\0') return;
    unlink(output.temporary);
    unwatch(output);
    output.temporary[0] = '\0';
}

}  // namespace report
