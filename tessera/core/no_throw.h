// Operations of the exported class report failure by status only: an allocation that throws
// anywhere below them becomes TES_ERR_NO_MEMORY at the class's boundary.
#pragma once

#include <new>
#include <stdexcept>
#include <utility>

#include "tessera/tessera.h"

namespace tessera {

template <typename F>
long NoThrow(F&& operation) noexcept {
  try {
    return std::forward<F>(operation)();
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  } catch (const std::length_error&) {
    return TES_ERR_NO_MEMORY;
  }
}

}  // namespace tessera
