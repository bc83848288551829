#pragma once
// How much more memory this process may really take: the least of its
// address-space limit, its control group's limit and the system's available
// memory, each less what is already in use.

#include <cstdint>

namespace lexmill {

uint64_t allocatable_bytes();

}  // namespace lexmill
