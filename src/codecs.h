// The text of a sample file, which may be compressed. Its first bytes say
// whether it is gzip, bzip2, xz or zstd data; the codec's own library is
// loaded only when such a file comes, so that a plain recording costs
// nothing more. Anything else is plain text.
#ifndef TAVRIN_CODECS_H
#define TAVRIN_CODECS_H

#include <cstddef>

#include <sys/types.h>

namespace codecs {

enum Format { kPlain, kGzip, kBzip2, kXz, kZstd };

// The most bytes that format_of needs to tell the formats apart.
const std::size_t kMagicBytes = 10;

// The format of a file that starts with the size bytes at head; a head
// shorter than a format's magic number is not of that format.
Format format_of(const unsigned char* head, std::size_t size);

// Starts reading the text of the open file fd, looking at its first bytes
// and loading the codec they call for. One file is read at a time. Returns
// 0, or -1 with reason() set.
int open_text(int fd);

// Reads up to size bytes of the text into into. Returns their count, 0 at
// the end of the text, or -1 with reason() set; after -1, the text ends.
ssize_t read_text(char* into, std::size_t size);

// Ends the reading of the text and frees the decoder.
void close_text();

// Why the last call failed: strerror's text, or what the codec found.
const char* reason();

}  // namespace codecs

#endif
