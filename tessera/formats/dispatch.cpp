// File operations of TesseraClass. No format readers or writers are built in yet: every
// file is reported as not recognised.
#include "tessera/tessera.h"

long TesseraClass::TestFile(char* const&, tagTes_Image_Desc*, short*, short*) { return TES_ERR_UNKNOWN_FORMAT; }

long TesseraClass::OpenImage(char* const&, const tagTes_Transform_Struct&, long (*)(long, long, void*), void* const) {
  return TES_ERR_UNKNOWN_FORMAT;
}

long TesseraClass::OpenThumbnail(char* const&, const tagTes_Transform_Struct&, long (*)(long, long, void*), void* const,
                                 short) {
  return TES_ERR_UNKNOWN_FORMAT;
}

long TesseraClass::Save(const tagTes_File_Spec&, long (*)(long, long, void*), void* const, short) const {
  return TES_ERR_CANNOT_STORE;
}
