// Stand-in for the data-analysis framework's TString.h, used when the
// framework is not installed: only the formatting helper tavrin needs.
#ifndef TAVRIN_COMPAT_TSTRING_H
#define TAVRIN_COMPAT_TSTRING_H

// printf-style formatting into a buffer owned by this layer. The result
// stays valid until the next call.
char* Form(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
