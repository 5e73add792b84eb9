// The report page: one self-contained HTML file, its pictures inline SVG,
// its style in the page, nothing fetched and no script.
#ifndef TAVRIN_REPORT_PAGE_H
#define TAVRIN_REPORT_PAGE_H

#include "report_stats.h"
#include "report_text.h"
#include "report_verdicts.h"

#include <cstddef>

namespace report {

// How much of a large campaign the page shows; the verdicts file has
// every chip.
const std::size_t kMapRows = 60;        // chips on each configuration's map
const std::size_t kListedChips = 120;   // chips in the reject and re-test lists
const std::size_t kListedRows = 400;    // rows of those lists
const std::size_t kListedOutliers = 40;
const std::size_t kListedNotes = 40;    // chips missing a configuration, recordings set aside
const std::size_t kListedFiles = 10;    // of rows, in the header

struct PageFacts {
    std::size_t files;            // of rows read
    const char* const* paths;     // theirs, as given ("-" for standard input)
    bool codes_given;             // whether code rows were among them
    bool recording_rows_missing;  // channel rows were given, and no recording rows
    const char* made;             // when the page was made, in ISO 8601
    const char* version;
};

void write_page(Text& text, const Campaign& campaign, const Distributions& distributions, const Counts& counts,
                const PageFacts& facts);

}  // namespace report

#endif
