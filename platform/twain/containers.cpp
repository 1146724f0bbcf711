#include "twain/containers.h"

#include <algorithm>
#include <cstring>

namespace orvax::twain {

namespace {

// The size of one item of TYPE when it is an integer; 0 otherwise.
size_t IntegerSize(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
    case TWTY_INT32:
    case TWTY_UINT32: return ItemSize(type);
    default: return 0;
  }
}

long ReadItem(const uint8_t* p, TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8: return static_cast<int8_t>(*p);
    case TWTY_UINT8: return *p;
    case TWTY_INT16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case TWTY_UINT16:
    case TWTY_BOOL: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case TWTY_INT32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    default: { uint32_t v; std::memcpy(&v, p, 4); return static_cast<long>(v); }
  }
}

// Stores VALUE as an item of SIZE bytes (1, 2 or 4) in the platform's byte order.
void WriteItem(uint8_t* p, size_t size, long value) {
  const uint32_t item = static_cast<uint32_t>(value);
  if (size == 1) {
    *p = static_cast<uint8_t>(item);
  } else if (size == 2) {
    const uint16_t v = static_cast<uint16_t>(item);
    std::memcpy(p, &v, 2);
  } else {
    std::memcpy(p, &item, 4);
  }
}

}  // namespace

bool ReadContainer(const TW_CAPABILITY& cap, std::vector<long>* values, long* current) {
  values->clear();
  const size_t total = GlobalSize(cap.hContainer);
  const auto* base = static_cast<const uint8_t*>(GlobalLock(cap.hContainer));
  if (base == nullptr) return false;
  TW_UINT16 type = 0;
  if (total >= sizeof type) std::memcpy(&type, base, sizeof type);
  const size_t size = IntegerSize(type);
  bool ok = false;
  if (size == 0) {
    // Not an integer item, or no room even for the item type.
  } else if (cap.ConType == TWON_ONEVALUE) {
    if (total >= sizeof(TW_ONEVALUE)) {
      values->push_back(ReadItem(base + offsetof(TW_ONEVALUE, Item), type));
      *current = values->front();
      ok = true;
    }
  } else if (cap.ConType == TWON_ENUMERATION || cap.ConType == TWON_ARRAY) {
    const bool isEnum = cap.ConType == TWON_ENUMERATION;
    const size_t head = isEnum ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
    if (total >= head) {
      TW_UINT32 count = 0, index = 0;
      std::memcpy(&count, base + offsetof(TW_ENUMERATION, NumItems), sizeof count);
      if (isEnum) std::memcpy(&index, base + offsetof(TW_ENUMERATION, CurrentIndex), sizeof index);
      if (count != 0 && count <= (total - head) / size) {
        values->reserve(count);
        for (size_t i = 0; i < count; ++i) values->push_back(ReadItem(base + head + i * size, type));
        *current = (*values)[index < count ? index : 0];
        ok = true;
      }
    }
  }
  GlobalUnlock(cap.hContainer);
  return ok;
}

TW_HANDLE OneValue(TW_UINT16 type, long value) {
  const size_t size = IntegerSize(type);
  if (size == 0) return nullptr;
  TW_HANDLE handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TW_ONEVALUE));
  if (auto* one = static_cast<uint8_t*>(GlobalLock(handle))) {
    std::memcpy(one + offsetof(TW_ONEVALUE, ItemType), &type, sizeof type);
    WriteItem(one + offsetof(TW_ONEVALUE, Item), size, value);
    GlobalUnlock(handle);
  }
  return handle;
}

TW_HANDLE Enumeration(TW_UINT16 type, std::span<const int> values, size_t currentIndex) {
  const size_t size = IntegerSize(type);
  if (size == 0) return nullptr;
  TW_HANDLE handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, offsetof(TW_ENUMERATION, ItemList) + values.size() * size);
  if (auto* base = static_cast<uint8_t*>(GlobalLock(handle))) {
    auto* e = reinterpret_cast<TW_ENUMERATION*>(base);
    e->ItemType = type;
    e->NumItems = static_cast<TW_UINT32>(values.size());
    e->CurrentIndex = static_cast<TW_UINT32>(currentIndex);
    e->DefaultIndex = 0;
    uint8_t* items = base + offsetof(TW_ENUMERATION, ItemList);
    for (size_t i = 0; i < values.size(); ++i) WriteItem(items + i * size, size, values[i]);
    GlobalUnlock(handle);
  }
  return handle;
}

void CopyText(char* field, size_t size, std::string_view text) {
  if (size == 0) return;
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

}  // namespace orvax::twain
