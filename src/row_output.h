// The survey's standard output, written in batches of whole rows: every
// write(2) carries whole rows only, so that the rows of surveys sharing one
// output never mix, and a write that fails part-way leaves no part of a
// row where it can be taken back.
#ifndef TAVRIN_ROW_OUTPUT_H
#define TAVRIN_ROW_OUTPUT_H

#include <cstddef>

namespace output {

// Looks at what standard output is: a regular file takes batches of up to
// 64 KiB; anything else (a pipe, a terminal) batches of up to PIPE_BUF,
// which a pipe takes whole, and each recording's rows as soon as they are
// all there.
void start();

// Room for a row of up to size bytes at the end of the batch, which goes
// out first when the row would not fit; nullptr when there is no memory.
char* row_room(std::size_t size);

// The row written into the room ends just before end, with its newline.
void row_done(const char* end);

// The rows of a recording are all given.
void recording_done();

// Writes the rest of the batch.
void finish();

// A failed write is reported once, as "<program>: standard output:
// <reason>", and ends the run with status 1, after cutting back a part of
// a row that it left in a regular file.

}  // namespace output

#endif
