#include "TString.h"
#include "TStyle.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
TStyle default_style;
std::string form_buffer;
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
    form_buffer.assign(length > 0 ? length : 0, '\0');
    std::vsnprintf(&form_buffer[0], form_buffer.size() + 1, fmt, args);
    va_end(args);
    return &form_buffer[0];
}
