// The parts of tavrin that its tests call in-process: the sample file's
// block reader, which feeds every line to the scan.
#ifndef TAVRIN_H
#define TAVRIN_H

#include <cstddef>

constexpr int kNChan = 32;           // channels per chip
constexpr int kMaxLineLength = 192;  // line buffer size, terminating NUL included
// The most that the reader reads from the sample file at a time.
constexpr std::size_t kMaxBlockBytes = 65536;

// Scans every complete line of the open sample file's text (the file
// itself, or its decompressed text) into the channel ranges, reading
// block_bytes (1 to kMaxBlockBytes) of text at a time. Returns 0, or 1
// after reporting on standard error that the scan failed or stopped early;
// a last line without a newline is left out with a warning.
int scan_file(int fd, const char* path, int (&minimum)[kNChan], int (&maximum)[kNChan],
              std::size_t block_bytes);

#endif
