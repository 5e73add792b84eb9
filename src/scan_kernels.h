// The scan kernels behind fold_line, each in a file of its own. Each takes
// a line up to its end and folds its tokens as fold_line does, returning
// how many it folded.
#ifndef TAVRIN_SCAN_KERNELS_H
#define TAVRIN_SCAN_KERNELS_H

#include "scan.h"

namespace scan {

int portable_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey);
int sse2_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey);
int avx2_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey);
int avx512_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey);
int neon_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey);

}  // namespace scan

#endif
