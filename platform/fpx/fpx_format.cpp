#include "fpx_format.h"

#include <cstdio>
#include <limits>

namespace fpx {

std::string ResolutionName(unsigned index) {
  char name[32];
  std::snprintf(name, sizeof name, "Resolution %04u", index);
  return name;
}

std::vector<uint8_t> StreamHeader(const Clsid& clsid) {
  std::vector<uint8_t> out;
  out.reserve(kStreamHeaderBytes);
  Put16(out, 0xFFFE);      // byte order
  Put16(out, 0);           // format
  Put32(out, 0x00020005);  // system: 32-bit Windows, as the format's own writers say
  out.insert(out.end(), clsid.begin(), clsid.end());
  Put32(out, 0);  // reserved
  return out;
}

std::vector<uint8_t> CompObjStream(const Clsid& clsid, const std::string& userType) {
  std::vector<uint8_t> out;
  out.reserve(64 + 3 * userType.size());
  Put32(out, 0xFFFE0001);  // header: byte order and format
  Put32(out, 0x00000A03);  // the version of the structured storage that wrote it
  Put32(out, 0xFFFFFFFF);
  out.insert(out.end(), clsid.begin(), clsid.end());
  Put32(out, static_cast<uint32_t>(userType.size() + 1));  // user type, with its terminating zero
  out.insert(out.end(), userType.begin(), userType.end());
  out.push_back(0);
  Put32(out, 0);           // no clipboard format
  Put32(out, 0);           // no programmatic id
  Put32(out, 0x71B239F4);  // the Unicode versions follow
  Put32(out, static_cast<uint32_t>(userType.size() + 1));
  for (char c : userType) Put16(out, static_cast<uint8_t>(c));
  Put16(out, 0);
  Put32(out, 0);  // no clipboard format
  Put32(out, 0);  // no programmatic id
  return out;
}

namespace {
// Fixed part of a property set stream: header (28) plus one section's format id and offset.
constexpr size_t kPropertySetHeaderBytes = 28;
constexpr size_t kSectionListEntryBytes = 20;
}  // namespace

bool PropertySet::Parse(std::vector<uint8_t> stream) {
  bytes_ = std::move(stream);
  values_.clear();
  const uint8_t* p = bytes_.data();
  const size_t n = bytes_.size();
  if (n < kPropertySetHeaderBytes + kSectionListEntryBytes) return false;
  if (Le16(p) != 0xFFFE) return false;
  if (Le32(p + 24) < 1) return false;  // number of sections
  std::memcpy(fmtid_.data(), p + 28, 16);
  const uint64_t section = Le32(p + 44);
  if (section + 8 > n) return false;
  const uint64_t sectionSize = Le32(p + section);
  const uint64_t count = Le32(p + section + 4);
  // The section may claim more than the stream holds; only what is there is read.
  const uint64_t sectionEnd = std::min<uint64_t>(n, section + std::max<uint64_t>(sectionSize, 8));
  if (count > (sectionEnd - section - 8) / 8) return false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* entry = p + section + 8 + 8 * i;
    const uint32_t id = Le32(entry);
    const uint64_t offset = section + Le32(entry + 4);
    if (offset + 4 > sectionEnd) return false;
    PropertyValue value;
    value.type = Le32(p + offset);
    value.data = p + offset + 4;
    value.size = static_cast<size_t>(sectionEnd - offset - 4);
    values_[id] = value;
  }
  return true;
}

const PropertyValue* PropertySet::Find(uint32_t id) const {
  const auto it = values_.find(id);
  return it == values_.end() ? nullptr : &it->second;
}

bool PropertySet::GetU32(uint32_t id, uint32_t* value) const {
  const PropertyValue* v = Find(id);
  if (v == nullptr) return false;
  if ((v->type == VT_UI4 || v->type == VT_I4) && v->size >= 4) {
    const uint32_t raw = Le32(v->data);
    if (v->type == VT_I4 && static_cast<int32_t>(raw) < 0) return false;
    *value = raw;
    return true;
  }
  if (v->type == VT_UI2 && v->size >= 2) {
    *value = Le16(v->data);
    return true;
  }
  return false;
}

bool PropertySet::GetR4(uint32_t id, float* value) const {
  const PropertyValue* v = Find(id);
  if (v == nullptr || v->type != VT_R4 || v->size < 4) return false;
  const uint32_t raw = Le32(v->data);
  std::memcpy(value, &raw, 4);
  return true;
}

bool PropertySet::GetBlob(uint32_t id, const uint8_t** data, uint32_t* size) const {
  const PropertyValue* v = Find(id);
  if (v == nullptr || v->type != VT_BLOB || v->size < 4) return false;
  const uint32_t length = Le32(v->data);
  if (length > v->size - 4) return false;
  *data = v->data + 4;
  *size = length;
  return true;
}

bool PropertySet::GetU32Vector(uint32_t id, std::vector<uint32_t>* values) const {
  const PropertyValue* v = Find(id);
  if (v == nullptr || v->size < 4) return false;
  if (v->type != (VT_VECTOR | VT_UI4) && v->type != (VT_VECTOR | VT_I4)) return false;
  const uint32_t count = Le32(v->data);
  if (count > (v->size - 4) / 4) return false;
  values->clear();
  for (uint32_t i = 0; i < count; ++i) values->push_back(Le32(v->data + 4 + 4 * i));
  return true;
}

void PropertySetWriter::Add(uint32_t id, uint32_t type, std::vector<uint8_t> value) {
  std::vector<uint8_t> stored;
  stored.reserve(value.size() + 8);
  Put32(stored, type);
  stored.insert(stored.end(), value.begin(), value.end());
  stored.resize((stored.size() + 3) / 4 * 4, 0);
  properties_.emplace_back(id, std::move(stored));
}

void PropertySetWriter::AddI2(uint32_t id, int16_t v) {
  std::vector<uint8_t> b;
  b.reserve(4);
  Put16(b, static_cast<uint16_t>(v));
  Add(id, VT_I2, b);
}
void PropertySetWriter::AddU32(uint32_t id, uint32_t v) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, v);
  Add(id, VT_UI4, b);
}
void PropertySetWriter::AddI32(uint32_t id, int32_t v) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, static_cast<uint32_t>(v));
  Add(id, VT_I4, b);
}
void PropertySetWriter::AddR4(uint32_t id, float v) {
  uint32_t raw;
  std::memcpy(&raw, &v, 4);
  std::vector<uint8_t> b;
  b.reserve(4);
  Put32(b, raw);
  Add(id, VT_R4, b);
}
void PropertySetWriter::AddBlob(uint32_t id, const std::vector<uint8_t>& blob) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, static_cast<uint32_t>(blob.size()));
  b.insert(b.end(), blob.begin(), blob.end());
  Add(id, VT_BLOB, b);
}
void PropertySetWriter::AddU32Vector(uint32_t id, const std::vector<uint32_t>& values) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, static_cast<uint32_t>(values.size()));
  for (uint32_t v : values) Put32(b, v);
  Add(id, VT_VECTOR | VT_UI4, b);
}
void PropertySetWriter::AddAnsiString(uint32_t id, const std::string& text) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, static_cast<uint32_t>(text.size() + 1));
  b.insert(b.end(), text.begin(), text.end());
  Put16(b, 0);
  b.pop_back();
  Add(id, VT_LPSTR, b);
}
void PropertySetWriter::AddWideString(uint32_t id, const std::string& asciiText) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, static_cast<uint32_t>(asciiText.size() + 1));
  for (char c : asciiText) Put16(b, static_cast<uint8_t>(c));
  Put16(b, 0);
  Add(id, VT_LPWSTR, b);
}
void PropertySetWriter::AddClsid(uint32_t id, const Clsid& clsid) {
  Add(id, VT_CLSID, std::vector<uint8_t>(clsid.begin(), clsid.end()));
}
void PropertySetWriter::AddFileTime(uint32_t id, uint64_t fileTime) {
  std::vector<uint8_t> b;
  b.reserve(8);
  Put32(b, static_cast<uint32_t>(fileTime));
  Put32(b, static_cast<uint32_t>(fileTime >> 32));
  Add(id, VT_FILETIME, b);
}

std::vector<uint8_t> PropertySetWriter::Build() const {
  std::vector<uint8_t> out;
  out.reserve(64);
  Put16(out, 0xFFFE);
  Put16(out, 0);
  Put32(out, 0x00020005);
  out.insert(out.end(), fmtid_.begin(), fmtid_.end());  // class id
  Put32(out, 1);                                        // one section
  out.insert(out.end(), fmtid_.begin(), fmtid_.end());
  Put32(out, static_cast<uint32_t>(kPropertySetHeaderBytes + kSectionListEntryBytes));

  const uint32_t tableBytes = 8 + 8 * static_cast<uint32_t>(properties_.size());
  uint32_t valueBytes = 0;
  for (const auto& p : properties_) valueBytes += static_cast<uint32_t>(p.second.size());
  Put32(out, tableBytes + valueBytes);
  Put32(out, static_cast<uint32_t>(properties_.size()));
  uint32_t offset = tableBytes;
  for (const auto& p : properties_) {
    Put32(out, p.first);
    Put32(out, offset);
    offset += static_cast<uint32_t>(p.second.size());
  }
  for (const auto& p : properties_) out.insert(out.end(), p.second.begin(), p.second.end());
  return out;
}

}  // namespace fpx
