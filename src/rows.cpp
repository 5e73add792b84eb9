#include "rows.h"

namespace rows {

const char* const kKindNames[kKinds] = {"recordings", "channels", "codes"};

const char* const kHeaders[kKinds] = {
    // One line, in two literals: the parentheses tell clang that they are meant as one.
    ("file\tstatus\tlines\tunfinished\tstuck\tempty\tmin\tmax\tvalues\talways1\talways0\t"
     "malformed\tshort\tpulses\tmean\trms\tfaults\n"),
    "file\tchannel\tvalues\tcodes\tmin\tmax\tmean\trms\talways1\talways0\tfaults\n",
    "file\tchannel\tcode\tcount\n",
};

}  // namespace rows
