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

// The most bytes that put_thousandths writes: up to 1023.000.
const int kThousandthsBytes = 8;

// Writes value, from 0 to 1023, with three decimals, exactly as printf's
// "%.3f" writes it: rounded to the nearest thousandth, a tie to the even
// one, from value's exact binary value. Returns the end. printf takes about
// ten times as long, and the rows hold 64 such numbers a recording.
char* put_thousandths(char* at, double value);

}  // namespace rows

#endif
