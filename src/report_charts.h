// The page's pictures, each one inline SVG that an XML parser reads on its
// own: the yield bar, a configuration's chip map, the faults per channel,
// the box plots of pedestal and noise, and a channel's code histogram.
#ifndef TAVRIN_REPORT_CHARTS_H
#define TAVRIN_REPORT_CHARTS_H

#include "report_stats.h"
#include "report_text.h"
#include "report_verdicts.h"

#include <cstddef>
#include <cstdint>

namespace report {

// The colours of the fault classes and of the verdicts, for the style
// sheet's classes (".k<class>", ".v<verdict>") and the legends.
extern const char* const kClassColours[faults::kClasses];
extern const char* const kVerdictColours[faults::kVerdicts];

// The style sheet's rules for the classes above.
void colour_rules(Text& text);

// Scrap, re-test and good as parts of one bar, each labelled with its
// count and share where they fit in it, and all of them in a line beneath.
void yield_bar(Text& text, const Counts& counts);

// The chips (rows) against the channels (columns) in one configuration,
// each cell coloured by its faults and titled with the chip, channel,
// faults, pedestal and noise; a recording's own findings at the row's end.
void chip_map(Text& text, const Campaign& campaign, std::uint32_t config, const std::uint32_t* chips,
              std::size_t count);

// For each channel, its faults over the campaign's deciding recordings, by
// class; a recording none of whose channels has codes is left out.
void channel_bars(Text& text, const Campaign& campaign);

// A box per channel of the quantity in the configuration, outliers as dots.
void box_plots(Text& text, const Campaign& campaign, const Distributions& distributions, std::uint32_t config,
               Quantity quantity);

// A channel's code histogram (its code rows, by code) around the bulk of
// its codes, the codes that its stuck bits rule out marked beneath.
void code_histogram(Text& text, const CodeCount* codes, std::size_t count, faults::Set faults);

}  // namespace report

#endif
