// The capability containers that pass between the application and a data source, read and
// written in one place for both sides, and the one bounded copy into the fixed text fields
// of the TWAIN records.
#pragma once

#include "twain/twain.h"

#include <span>
#include <string_view>
#include <vector>

namespace orvax::twain {

// Reads the container of CAP as integers: every value of a one-value, enumeration or array
// container, and in CURRENT the one its current index names (the first when the index lies
// past the list). False, with VALUES empty, for any other container, an item type that is
// not an integer of up to four bytes, an empty list, a block too short for its header, or a
// count of items beyond the block: such a container is refused, never cut to fit.
bool ReadContainer(const TW_CAPABILITY& cap, std::vector<long>* values, long* current);

// A new one-value container of TYPE holding VALUE; null when out of memory or for an item
// type that is not an integer.
TW_HANDLE OneValue(TW_UINT16 type, long value);

// A new enumeration of TYPE holding VALUES, whose current item is CURRENTINDEX and default
// the first; null when out of memory or for an item type that is not an integer.
TW_HANDLE Enumeration(TW_UINT16 type, std::span<const int> values, size_t currentIndex);

// Copies TEXT into the fixed text field FIELD of SIZE bytes: cut to SIZE - 1 bytes, the rest
// of the field zeroed, so it is always zero-terminated.
void CopyText(char* field, size_t size, std::string_view text);
template <size_t N>
void CopyText(char (&field)[N], std::string_view text) {
  CopyText(field, N, text);
}

}  // namespace orvax::twain
