// Reads the text of a sample file, decompressing it when its first bytes
// are a codec's magic number. Each codec's library is opened (dlmopen)
// the first time a file in its format comes, and only its streaming
// interface is used; the decoders are the libraries' own. Compressed bytes
// go through a fixed buffer, and the text comes out in the caller's blocks,
// so memory stays flat whatever the length of the file.
#include "codecs.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <dlfcn.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

// The libraries that tavrin may load, for the packaging tools that read
// this note (the ELF dlopen metadata: owner FDO, type 0x407c0c0a, a JSON
// array as a NUL-ended string).
__asm__(".pushsection .note.dlopen,\"a\",%note\n"
        ".balign 4\n"
        ".long 4\n"
        ".long 2f - 1f\n"
        ".long 0x407c0c0a\n"
        ".asciz \"FDO\"\n"
        "1: .asciz \"["
        "{\\\"feature\\\":\\\"gzip\\\",\\\"description\\\":\\\"gzip recordings\\\","
        "\\\"priority\\\":\\\"recommended\\\",\\\"soname\\\":[\\\"libz.so.1\\\"]},"
        "{\\\"feature\\\":\\\"bzip2\\\",\\\"description\\\":\\\"bzip2 recordings\\\","
        "\\\"priority\\\":\\\"recommended\\\",\\\"soname\\\":[\\\"libbz2.so.1.0\\\",\\\"libbz2.so.1\\\"]},"
        "{\\\"feature\\\":\\\"xz\\\",\\\"description\\\":\\\"xz recordings\\\","
        "\\\"priority\\\":\\\"recommended\\\",\\\"soname\\\":[\\\"liblzma.so.5\\\"]},"
        "{\\\"feature\\\":\\\"zstd\\\",\\\"description\\\":\\\"zstd recordings\\\","
        "\\\"priority\\\":\\\"recommended\\\",\\\"soname\\\":[\\\"libzstd.so.1\\\"]}"
        "]\"\n"
        "2: .balign 4\n"
        ".popsection\n");

namespace codecs {
namespace {

// What one call of a decoder did.
enum Outcome {
    kGoing,        // call again, with more input if none is left
    kStreamEnded,  // a stream ended; another may follow
    kTextEnded,    // the text ended (zstd, which joins its frames itself)
    kFailed,       // the data is corrupt; the reason is set
};

struct Step {
    std::size_t consumed;
    std::size_t produced;
    Outcome outcome;
};

// Where a format's files may hold zero bytes that are no stream: xz allows
// them between its streams, in fours; gzip and bzip2 files written to tapes
// and block devices come padded to the block's size, which gzip -dc and
// bzip2 -dc read as the end of the data.
enum Padding {
    kNoPadding,
    kBetweenStreams,
    kAtTheEnd,
};

// A codec: its format's name, its library (with the name that some
// distributions give it instead, if any), where its files may hold
// padding, and its decoder. begin starts a stream; step decodes from in to
// out, finishing once the file has ended.
struct Codec {
    Format format;
    const char* name;
    const char* library;
    const char* library_elsewhere;
    Padding padding;
    bool (*load)(void* handle);
    bool (*begin)();
    Step (*step)(const unsigned char* in, std::size_t in_size, char* out, std::size_t out_size,
                 bool finishing);
    void (*end)();
};

const std::size_t kInputBytes = 65536;
unsigned char input[kInputBytes];  // compressed bytes read from the file
std::size_t input_start = 0;       // the unread ones: input_start to input_end
std::size_t input_end = 0;
bool file_ended = false;
int file = -1;
const Codec* codec = nullptr;  // nullptr for plain text
bool stream_ended = false;
bool text_ended = false;
bool failure_waits = false;  // failed after producing text, reported next

char reason_text[160];
const char* why = "";

int fail_with(const char* text)
{
    why = text;
    return -1;
}

int fail_errno(int error)
{
    return fail_with(std::strerror(error));
}

// For a decoder that could not get its memory.
bool out_of_memory()
{
    fail_errno(ENOMEM);
    return false;
}

// Reports what the codec found about its data, such as "corrupt gzip
// data", with the library's own words after a colon when it has any.
int fail_data(const char* before, const char* after, const char* detail = nullptr)
{
    const bool detailed = detail != nullptr && *detail != '\0';
    std::snprintf(reason_text, sizeof reason_text, "%s%s data%s%s%s", before, codec->name, after,
                  detailed ? ": " : "", detailed ? detail : "");
    return fail_with(reason_text);
}

int fail_trailing_bytes()
{
    return fail_data("bytes after the end of the ", "");
}

std::size_t unread()
{
    return input_end - input_start;
}

// Reads from the file, going on after an interruption; sets the reason
// on an error.
ssize_t read_file(void* into, std::size_t size)
{
    ssize_t got;
    do {
        got = read(file, into, size);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? fail_errno(errno) : got;
}

// Reads more of the file behind the unread bytes, moving them to the front
// first. Returns false with the reason set on a read error.
bool read_more()
{
    std::memmove(input, input + input_start, unread());
    input_end -= input_start;
    input_start = 0;
    const ssize_t got = read_file(input + input_end, kInputBytes - input_end);
    if (got < 0) return false;
    file_ended = got == 0;
    input_end += got;
    return true;
}

// Makes at least count bytes unread, unless the file ends first.
bool have_unread(std::size_t count)
{
    while (unread() < count && !file_ended) {
        if (!read_more()) return false;
    }
    return true;
}

// Resolves a library's function into a pointer of its own type.
template <typename Function>
bool resolve(void* handle, const char* name, Function*& function)
{
    function = reinterpret_cast<Function*>(dlsym(handle, name));
    return function != nullptr;
}

// --- gzip, through zlib ---------------------------------------------------

struct {
    decltype(&inflateInit2_) init;
    decltype(&::inflate) decompress;
    decltype(&inflateEnd) end;
} zlib;
z_stream gzip_stream;

const int kGzipWindowBits = 15 + 16;  // the largest window, gzip's header

bool gzip_load(void* handle)
{
    return resolve(handle, "inflateInit2_", zlib.init) && resolve(handle, "inflate", zlib.decompress) &&
           resolve(handle, "inflateEnd", zlib.end);
}

// Ending a stream that was never set up, or ended already, does nothing.
void gzip_end()
{
    zlib.end(&gzip_stream);
}

// Each member gets a decoder of its own, as each bzip2 and xz stream does.
bool gzip_begin()
{
    gzip_end();
    std::memset(&gzip_stream, 0, sizeof gzip_stream);
    return zlib.init(&gzip_stream, kGzipWindowBits, ZLIB_VERSION, sizeof gzip_stream) == Z_OK || out_of_memory();
}

Step gzip_step(const unsigned char* in, std::size_t in_size, char* out, std::size_t out_size, bool)
{
    gzip_stream.next_in = const_cast<unsigned char*>(in);
    gzip_stream.avail_in = static_cast<uInt>(in_size);
    gzip_stream.next_out = reinterpret_cast<unsigned char*>(out);
    gzip_stream.avail_out = static_cast<uInt>(out_size);
    const int status = zlib.decompress(&gzip_stream, Z_NO_FLUSH);
    Step step = {in_size - gzip_stream.avail_in, out_size - gzip_stream.avail_out, kGoing};
    if (status == Z_STREAM_END) {
        step.outcome = kStreamEnded;
    } else if (status == Z_MEM_ERROR) {
        fail_errno(ENOMEM);
        step.outcome = kFailed;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
        fail_data("corrupt ", "", gzip_stream.msg);
        step.outcome = kFailed;
    }
    return step;
}

// --- bzip2 ------------------------------------------------------------------

struct {
    decltype(&BZ2_bzDecompressInit) init;
    decltype(&BZ2_bzDecompress) decompress;
    decltype(&BZ2_bzDecompressEnd) end;
} bz2;
bz_stream bzip2_stream;

bool bzip2_load(void* handle)
{
    return resolve(handle, "BZ2_bzDecompressInit", bz2.init) &&
           resolve(handle, "BZ2_bzDecompress", bz2.decompress) &&
           resolve(handle, "BZ2_bzDecompressEnd", bz2.end);
}

void bzip2_end()
{
    bz2.end(&bzip2_stream);
}

bool bzip2_begin()
{
    bzip2_end();
    std::memset(&bzip2_stream, 0, sizeof bzip2_stream);
    return bz2.init(&bzip2_stream, 0, 0) == BZ_OK || out_of_memory();
}

Step bzip2_step(const unsigned char* in, std::size_t in_size, char* out, std::size_t out_size, bool)
{
    bzip2_stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
    bzip2_stream.avail_in = static_cast<unsigned>(in_size);
    bzip2_stream.next_out = out;
    bzip2_stream.avail_out = static_cast<unsigned>(out_size);
    const int status = bz2.decompress(&bzip2_stream);
    Step step = {in_size - bzip2_stream.avail_in, out_size - bzip2_stream.avail_out, kGoing};
    if (status == BZ_STREAM_END) {
        step.outcome = kStreamEnded;
    } else if (status == BZ_MEM_ERROR) {
        fail_errno(ENOMEM);
        step.outcome = kFailed;
    } else if (status != BZ_OK) {
        fail_data("corrupt ", "");
        step.outcome = kFailed;
    }
    return step;
}

// --- xz, through liblzma ----------------------------------------------------

struct {
    decltype(&lzma_stream_decoder) decoder;
    decltype(&lzma_code) code;
    decltype(&lzma_end) end;
} lzma;
lzma_stream xz_stream = LZMA_STREAM_INIT;

bool xz_load(void* handle)
{
    return resolve(handle, "lzma_stream_decoder", lzma.decoder) && resolve(handle, "lzma_code", lzma.code) &&
           resolve(handle, "lzma_end", lzma.end);
}

void xz_end()
{
    lzma.end(&xz_stream);
}

// A stream that needs more memory than this is taken for corrupt: no
// recording calls for more than xz -9's 65 MiB.
const std::uint64_t kXzMemoryLimit = std::uint64_t{1} << 30;

bool xz_begin()
{
    xz_end();
    const lzma_stream fresh = LZMA_STREAM_INIT;
    xz_stream = fresh;
    return lzma.decoder(&xz_stream, kXzMemoryLimit, 0) == LZMA_OK || out_of_memory();
}

Step xz_step(const unsigned char* in, std::size_t in_size, char* out, std::size_t out_size, bool)
{
    xz_stream.next_in = in;
    xz_stream.avail_in = in_size;
    xz_stream.next_out = reinterpret_cast<std::uint8_t*>(out);
    xz_stream.avail_out = out_size;
    const lzma_ret status = lzma.code(&xz_stream, LZMA_RUN);
    Step step = {in_size - xz_stream.avail_in, out_size - xz_stream.avail_out, kGoing};
    if (status == LZMA_STREAM_END) {
        step.outcome = kStreamEnded;
    } else if (status == LZMA_MEM_ERROR) {
        fail_errno(ENOMEM);
        step.outcome = kFailed;
    } else if (status == LZMA_MEMLIMIT_ERROR) {
        fail_data("", " needs more than 1 GiB of memory");
        step.outcome = kFailed;
    } else if (status != LZMA_OK && status != LZMA_BUF_ERROR) {
        fail_data("corrupt ", "");
        step.outcome = kFailed;
    }
    return step;
}

// --- zstd -------------------------------------------------------------------

struct {
    decltype(&ZSTD_createDStream) create;
    decltype(&ZSTD_decompressStream) decompress;
    decltype(&ZSTD_freeDStream) free;
    decltype(&ZSTD_isError) is_error;
    decltype(&ZSTD_getErrorName) error_name;
    decltype(&ZSTD_getErrorCode) error_code;
} zstd;
ZSTD_DStream* zstd_stream = nullptr;
bool zstd_frame_open = false;  // the last frame has not ended yet

bool zstd_load(void* handle)
{
    return resolve(handle, "ZSTD_createDStream", zstd.create) &&
           resolve(handle, "ZSTD_decompressStream", zstd.decompress) &&
           resolve(handle, "ZSTD_freeDStream", zstd.free) && resolve(handle, "ZSTD_isError", zstd.is_error) &&
           resolve(handle, "ZSTD_getErrorName", zstd.error_name) &&
           resolve(handle, "ZSTD_getErrorCode", zstd.error_code);
}

void zstd_end()
{
    zstd.free(zstd_stream);  // which takes nullptr
    zstd_stream = nullptr;
}

// libzstd goes on to the next frame itself, so its text ends only with the
// file.
bool zstd_begin()
{
    zstd_end();
    zstd_stream = zstd.create();
    zstd_frame_open = true;
    return zstd_stream != nullptr || out_of_memory();
}

Step zstd_step(const unsigned char* in, std::size_t in_size, char* out, std::size_t out_size,
               bool finishing)
{
    Step step = {0, 0, kGoing};
    // A frame that ended was flushed whole, and between frames the file
    // may end.
    if (finishing && !zstd_frame_open) {
        step.outcome = kTextEnded;
        return step;
    }
    ZSTD_inBuffer from = {in, in_size, 0};
    ZSTD_outBuffer to = {out, out_size, 0};
    const std::size_t result = zstd.decompress(zstd_stream, &to, &from);
    step.consumed = from.pos;
    step.produced = to.pos;
    if (zstd.is_error(result)) {
        const ZSTD_ErrorCode code = zstd.error_code(result);
        if (code == ZSTD_error_memory_allocation) {
            fail_errno(ENOMEM);
        } else if (code == ZSTD_error_frameParameter_windowTooLarge) {
            // A valid frame, made with zstd --long=28 or more, that asks for
            // a window above libzstd's default limit, ZSTD_WINDOWLOG_LIMIT_DEFAULT.
            fail_data("", " needs more than 128 MiB of memory");
        } else if (code == ZSTD_error_prefix_unknown && !zstd_frame_open) {
            fail_trailing_bytes();
        } else {
            fail_data("corrupt ", "", zstd.error_name(result));
        }
        step.outcome = kFailed;
    } else if (from.pos > 0 || to.pos > 0) {
        zstd_frame_open = result != 0;
    }
    return step;
}

// --- the codecs, by format --------------------------------------------------

const Codec kCodecs[] = {
    {kGzip, "gzip", "libz.so.1", nullptr, kAtTheEnd, gzip_load, gzip_begin, gzip_step, gzip_end},
    {kBzip2, "bzip2", "libbz2.so.1.0", "libbz2.so.1", kAtTheEnd, bzip2_load, bzip2_begin, bzip2_step,
     bzip2_end},
    {kXz, "xz", "liblzma.so.5", nullptr, kBetweenStreams, xz_load, xz_begin, xz_step, xz_end},
    {kZstd, "zstd", "libzstd.so.1", nullptr, kNoPadding, zstd_load, zstd_begin, zstd_step, zstd_end},
};

const Codec& codec_of(Format format)
{
    return kCodecs[format - kGzip];
}

// Opens a library in a link namespace of its own, where its calls to its
// own functions reach them: the framework's libCore carries a zstd of its
// own, whose functions of the same names would take their place in the
// process's global scope, and a library of one version would run on the
// data structures of another.
void* open_apart(const char* library)
{
    return dlmopen(LM_ID_NEWLM, library, RTLD_NOW | RTLD_LOCAL);
}

// A new link namespace gets a C library of its own, which the loader maps
// and starts on the stack of its caller, and which needs more of it than
// everything else the run does: more than a small stack limit (ulimit -s
// 16) leaves. So the library is opened on a stack of its own, outside the
// limit, in the same thread.
const std::size_t kLoaderStackBytes = 256 * 1024;
char loader_stack[kLoaderStackBytes];
ucontext_t loader, caller;
const Codec* opening = nullptr;
void* opened = nullptr;
volatile bool loader_ran = false;

// Runs on the loader's stack, and goes back to the caller's when it returns.
// A library that loads without the codec's functions is closed again: its
// link namespace would stay taken otherwise, and the loader has 16 in all,
// so that after 15 such files no codec could be loaded any more. dlclose
// gives a namespace back once its last library goes (glibc 2.36 frees its
// C library too, and reuses the namespace), and runs that namespace's
// finalisers, so it runs on this stack as well.
void open_codec_library()
{
    opened = open_apart(opening->library);
    if (opened == nullptr && opening->library_elsewhere != nullptr) {
        opened = open_apart(opening->library_elsewhere);  // its soname on RHEL and Fedora
    }
    if (opened != nullptr && !opening->load(opened)) {
        dlclose(opened);
        opened = nullptr;
    }
}

// Opens the codec's library and finds its functions; returns its handle,
// or nullptr when it is not found, lacks them or the stacks could not be
// switched. getcontext returns a second time once the loader has run.
void* open_on_loader_stack(const Codec& c)
{
    opening = &c;
    opened = nullptr;
    loader_ran = false;
    if (getcontext(&loader) != 0) return nullptr;
    loader.uc_stack.ss_sp = loader_stack;
    loader.uc_stack.ss_size = sizeof loader_stack;
    loader.uc_link = &caller;
    makecontext(&loader, open_codec_library, 0);
    if (getcontext(&caller) != 0) return nullptr;
    if (!loader_ran) {
        loader_ran = true;
        setcontext(&loader);
        return nullptr;  // setcontext returns only when it fails
    }
    return opened;
}

// Opens the codec's library, once a run; one that could not be loaded is
// looked for again with the next file in its format.
bool load(const Codec& c)
{
    static bool loaded[sizeof kCodecs / sizeof kCodecs[0]];
    bool& done = loaded[&c - kCodecs];
    if (done) return true;
    if (open_on_loader_stack(c) == nullptr) {
        std::snprintf(reason_text, sizeof reason_text, "cannot load %s", c.library);
        fail_with(reason_text);
        return false;
    }
    done = true;
    return true;
}

// Plain text: what was read to look at the magic, then the file itself.
ssize_t read_plain(char* into, std::size_t size)
{
    if (unread() > 0) {
        const std::size_t count = size < unread() ? size : unread();
        std::memcpy(into, input + input_start, count);
        input_start += count;
        return static_cast<ssize_t>(count);
    }
    return read_file(into, size);
}

// Skips the NUL bytes that xz allows between streams, in fours.
bool skip_padding()
{
    static const unsigned char kPadding[4] = {0, 0, 0, 0};
    for (;;) {
        if (!have_unread(sizeof kPadding)) return false;
        if (unread() < sizeof kPadding || std::memcmp(input + input_start, kPadding, sizeof kPadding) != 0) {
            return true;
        }
        input_start += sizeof kPadding;
    }
}

// Whether the unread bytes are all zero: the first is, and each is the
// same as the next (which memcmp compares faster than a loop).
bool unread_zeros()
{
    const unsigned char* const at = input + input_start;
    return unread() == 0 || (at[0] == 0 && std::memcmp(at, at + 1, unread() - 1) == 0);
}

// Reads the rest of the file, which must be zero bytes alone, the padding
// of a tape's or a block device's last block: the text ends there, and
// anything else is an error. The padding goes through the fixed buffer,
// however long it is.
int skip_final_padding()
{
    for (;;) {
        if (!unread_zeros()) return fail_trailing_bytes();
        input_start = input_end;
        if (file_ended) {
            text_ended = true;
            return 0;
        }
        if (!read_more()) return -1;
    }
}

// After a stream: the end of the text, or the next stream, which must start
// with the same magic number, as the codecs' own tools read them.
int next_stream()
{
    if (codec->padding == kBetweenStreams && !skip_padding()) return -1;
    if (!have_unread(kMagicBytes)) return -1;
    if (unread() == 0) {
        text_ended = true;
        return 0;
    }
    // No magic number starts with a zero byte.
    if (codec->padding == kAtTheEnd && input[input_start] == 0) return skip_final_padding();
    if (format_of(input + input_start, unread()) != codec->format) {
        return fail_trailing_bytes();
    }
    if (!codec->begin()) return -1;
    stream_ended = false;
    return 1;
}

// Decodes until some text comes out, the text ends or the data fails.
ssize_t read_compressed(char* into, std::size_t size)
{
    std::size_t produced = 0;
    while (produced == 0 && !text_ended) {
        if (stream_ended) {
            const int next = next_stream();
            if (next <= 0) return next;
        }
        if (unread() == 0 && !file_ended && !read_more()) return -1;
        const bool finishing = unread() == 0 && file_ended;
        const Step step = codec->step(input + input_start, unread(), into, size, finishing);
        input_start += step.consumed;
        produced = step.produced;
        if (step.outcome == kFailed) {
            if (produced == 0) return -1;
            failure_waits = true;  // the text that came out still counts
        } else if (step.outcome == kStreamEnded) {
            stream_ended = true;
        } else if (step.outcome == kTextEnded) {
            text_ended = true;
        } else if (produced == 0 && step.consumed == 0) {
            // With input and room for text, every library makes progress;
            // without input, the data ended inside a stream.
            return finishing ? fail_data("", " cut short") : fail_data("corrupt ", "");
        }
    }
    return static_cast<ssize_t>(produced);
}

}  // namespace

Format format_of(const unsigned char* head, std::size_t size)
{
    static const unsigned char kGzipMagic[] = {0x1f, 0x8b};
    static const unsigned char kXzMagic[] = {0xfd, '7', 'z', 'X', 'Z', 0x00};
    static const unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
    // A skippable frame, such as pzstd writes first: its magic number is
    // any of 50 2a 4d 18 to 5f 2a 4d 18.
    static const unsigned char kZstdSkippableMagic[] = {0x2a, 0x4d, 0x18};
    const unsigned char kZstdSkippableFirst = 0x50, kZstdSkippableLast = 0x5f;
    static const unsigned char kBzip2Block[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    static const unsigned char kBzip2End[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
    const auto starts = [head, size](const unsigned char* magic, std::size_t length, std::size_t at) {
        return size >= at + length && std::memcmp(head + at, magic, length) == 0;
    };
    if (starts(kGzipMagic, sizeof kGzipMagic, 0)) return kGzip;
    if (starts(kXzMagic, sizeof kXzMagic, 0)) return kXz;
    if (starts(kZstdMagic, sizeof kZstdMagic, 0)) return kZstd;
    if (starts(kZstdSkippableMagic, sizeof kZstdSkippableMagic, 1) && head[0] >= kZstdSkippableFirst &&
        head[0] <= kZstdSkippableLast) {
        return kZstd;
    }
    const bool bzip2_level = size >= 4 && std::memcmp(head, "BZh", 3) == 0 && head[3] >= '1' && head[3] <= '9';
    if (bzip2_level && (starts(kBzip2Block, sizeof kBzip2Block, 4) || starts(kBzip2End, sizeof kBzip2End, 4))) {
        return kBzip2;
    }
    return kPlain;
}

int open_text(int fd)
{
    file = fd;
    input_start = input_end = 0;
    file_ended = stream_ended = text_ended = failure_waits = false;
    codec = nullptr;
    if (!have_unread(kMagicBytes)) return -1;
    const Format format = format_of(input, unread());
    if (format == kPlain) return 0;
    const Codec& c = codec_of(format);
    codec = &c;
    if (!load(c) || !c.begin()) {
        codec = nullptr;
        return -1;
    }
    return 0;
}

ssize_t read_text(char* into, std::size_t size)
{
    if (failure_waits) return -1;
    return codec == nullptr ? read_plain(into, size) : read_compressed(into, size);
}

void close_text()
{
    if (codec != nullptr) codec->end();
    codec = nullptr;
}

const char* reason()
{
    return why;
}

}  // namespace codecs
