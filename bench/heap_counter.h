#pragma once
// Bytes requested through operator new and not yet freed, by this program
// and the component's code linked into it. Automation strings come from the
// system allocator and are not counted here; process figures cover them.

#include <cstddef>

namespace corvane::bench::heap {

size_t current();
size_t peak();
// Blocks allocated so far.
size_t allocations();
// Starts a new peak from what is held now.
void reset_peak();

void note_allocated(size_t bytes);
void note_released(size_t bytes);

}  // namespace corvane::bench::heap
