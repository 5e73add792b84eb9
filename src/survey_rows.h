// The survey's rows for one recording, of the kind asked for: one row for
// the recording, one per channel, or one per channel and code that came.
#ifndef TAVRIN_SURVEY_ROWS_H
#define TAVRIN_SURVEY_ROWS_H

#include "recording.h"
#include "rows.h"

// A surveyed recording: its name as given, whether it was read to its end
// (0) or not (1), and what the scan found.
struct Surveyed {
    const char* name;
    int status;
    const Tally& tally;
    const CodeTally& codes;
};

// Hands each row of the recording, of the kind asked for, to the output,
// in order. Returns false when there was no memory for a row.
bool write_rows(rows::Kind kind, const Surveyed& recording);

#endif
