// The interner's hash table, and the end of a run that runs out of memory.
#include "report_memory.h"

#include "recording.h"

#include <cerrno>
#include <cstring>

namespace report {

void out_of_memory()
{
    std::exit(fail("memory", ENOMEM));
}

namespace {

// FNV-1a, 64 bits: names differ in their last bytes as often as in their first.
std::uint64_t hash_of(const char* text, std::size_t length)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(text[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

const std::size_t kFirstSlots = 1024;  // a power of two, as every size of the table

}  // namespace

// The slot that holds the text, or the free slot where it would go.
std::size_t Interner::slot_of(const char* text, std::size_t length) const
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash_of(text, length) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = slots_[slot];
        if (held == 0) return slot;
        const Span& span = spans_[held - 1];
        if (span.length == length && std::memcmp(chars_.begin() + span.offset, text, length) == 0) return slot;
    }
}

// Doubles the table (or makes its first), keeping it at most half full.
void Interner::grow_slots()
{
    const std::size_t slots = slots_.empty() ? kFirstSlots : 2 * slots_.size();
    slots_.clear();
    slots_.resize(slots, 0);
    for (std::uint32_t index = 0; index < size(); ++index) {
        slots_[slot_of(text(index), length(index))] = index + 1;
    }
}

std::uint32_t Interner::find(const char* text, std::size_t length) const
{
    if (slots_.empty()) return kAbsent;
    const std::uint32_t held = slots_[slot_of(text, length)];
    return held == 0 ? kAbsent : held - 1;
}

std::uint32_t Interner::intern(const char* text, std::size_t length)
{
    if (2 * (spans_.size() + 1) > slots_.size()) grow_slots();
    const std::size_t slot = slot_of(text, length);
    if (slots_[slot] != 0) return slots_[slot] - 1;
    if (spans_.size() + 1 >= kAbsent) out_of_memory();
    const Span span = {chars_.size(), length};
    chars_.append(text, length);
    chars_.push('\0');
    spans_.push(span);
    slots_[slot] = static_cast<std::uint32_t>(spans_.size());
    return slots_[slot] - 1;
}

}  // namespace report
