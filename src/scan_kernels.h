// The scan kernels behind fold_line, each in a file of its own. Each takes
// a line up to its end and folds its tokens as fold_line does.
#ifndef TAVRIN_SCAN_KERNELS_H
#define TAVRIN_SCAN_KERNELS_H

namespace scan {

void portable_fold_line(const char* line, const char* end, int* minimum, int* maximum);
void sse2_fold_line(const char* line, const char* end, int* minimum, int* maximum);
void avx2_fold_line(const char* line, const char* end, int* minimum, int* maximum);
void avx512_fold_line(const char* line, const char* end, int* minimum, int* maximum);
void neon_fold_line(const char* line, const char* end, int* minimum, int* maximum);

}  // namespace scan

#endif
