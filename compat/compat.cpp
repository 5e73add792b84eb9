#include "TString.h"
#include "TStyle.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
TStyle default_style;
// Form's buffer, grown as needed. Plain C allocation, so that a program
// built against this layer needs the C library alone.
char* form_buffer = nullptr;
std::size_t form_capacity = 0;
}  // namespace

TStyle* gStyle = &default_style;

char* Form(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    const std::size_t size = length > 0 ? static_cast<std::size_t>(length) + 1 : 1;
    if (size > form_capacity) {
        // As the framework's own allocation would, running out of memory
        // here ends the process.
        char* const grown = static_cast<char*>(std::realloc(form_buffer, size));
        if (grown == nullptr) std::abort();
        form_buffer = grown;
        form_capacity = size;
    }
    form_buffer[0] = '\0';
    std::vsnprintf(form_buffer, size, fmt, args);
    va_end(args);
    return form_buffer;
}
