// Feeds a fuzzed file to one reader of the image library (FUZZ_SLOT), or to the whole
// dispatch (any): identifying it, reading it, and reading its thumbnail.
#include <cstdint>
#include <cstring>

#include "formats/format.h"
#include "formats/streams.h"
#include "memory_file.h"
#include "tessera/tessera.h"

#define FUZZ_STR2(x) #x
#define FUZZ_STR(x) FUZZ_STR2(x)

namespace {

struct Library {
  Library() {
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char empty[] = "";
    char* none = empty;
    TesseraClass::InitMosaic(info, none, none, none, none, 1.0);
  }
};

long Stop(long total, long done, void*) { return 0; }

// Runs the three reader operations through one stream-format slot.
void ThroughSlot(const tessera::StreamFormat& slot, const char* path) {
  if (slot.reader == nullptr) return;
  for (int op = 0; op < 3; ++op) {
    tessera::InputStream in(path);
    if (in.Open() != 0) return;
    TesseraClass image(op == 2 ? 15 : 0, 2);
    std::unique_ptr<tessera::FormatReader> reader = slot.reader(op == 0 ? nullptr : &image, in);
    if (!reader) return;
    tagTes_Image_Desc desc{};
    short thumb = 0;
    if (op == 0) reader->Test(&desc, &thumb);
    if (op == 1) reader->Open(Stop, nullptr, TesseraClass::m_s_EmptyTransform);
    if (op == 2) reader->OpenThumbnail(Stop, nullptr, 1, {1, 90.0});
  }
}

void ThroughNamedSlot(const tessera::NamedFormat& slot, const char* path) {
  if (slot.reader == nullptr) return;
  for (int op = 0; op < 3; ++op) {
    TesseraClass image(0, 2);
    std::unique_ptr<tessera::NamedFormatReader> reader = slot.reader(op == 0 ? nullptr : &image);
    if (!reader) return;
    tagTes_Image_Desc desc{};
    short thumb = 0;
    bool jpeg = false;
    if (op == 0) reader->Test(path, &desc, &thumb, &jpeg);
    if (op == 1) reader->Open(path, Stop, nullptr, TesseraClass::m_s_EmptyTransform);
    if (op == 2) reader->OpenThumbnail(path, Stop, nullptr, 0, TesseraClass::m_s_EmptyTransform);
  }
}

void ThroughDispatch(const char* path) {
  char* p = const_cast<char*>(path);
  tagTes_Image_Desc desc{};
  short type = 0, thumb = 0;
  TesseraClass::TestFile(p, &desc, &type, &thumb);
  TesseraClass image(0, 2);
  if (image.OpenImage(p, TesseraClass::m_s_EmptyTransform, Stop, nullptr) == 0) {
    // A file that opened is also drawn and turned, as the application would.
    image.Rotate(90.0);
    _HistTable h{};
    image.GetHistTable(&h, 0, 0);
  }
  TesseraClass managed(15, 2);
  managed.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, Stop, nullptr, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Library library;
  static MemoryFile file;
  file.Set(data, size);
  const char* path = file.path().c_str();
  const std::string slot = FUZZ_STR(FUZZ_SLOT);
  const tessera::FormatTable& formats = tessera::Formats();
  if (slot == "bmp") ThroughSlot(formats.bmp, path);
  if (slot == "jpeg") ThroughSlot(formats.jpeg, path);
  if (slot == "tiff") ThroughSlot(formats.tiff, path);
  if (slot == "fpx") ThroughNamedSlot(formats.fpx, path);
  if (slot == "any") ThroughDispatch(path);
  return 0;
}
