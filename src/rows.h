// The survey's three kinds of rows, each file of them starting with its
// header line, by which the report tells them apart.
#ifndef TAVRIN_ROWS_H
#define TAVRIN_ROWS_H

namespace rows {

enum Kind { kRecordings, kChannels, kCodes };
const int kKinds = kCodes + 1;

// The kind's name for --rows=: "recordings", "channels", "codes".
extern const char* const kKindNames[kKinds];
// The kind's header line, its newline included.
extern const char* const kHeaders[kKinds];

}  // namespace rows

#endif
