// Saving an image in place of a file, all or nothing: the image goes into a new file beside
// the target, which moves over the target only once it is complete (platform/win's file
// replacement, shared with tessera-tool's convert).
#pragma once

#include <tessera/tessera.h>

#include <QString>

#include <cstdint>
#include <functional>

namespace orvax::app {

// Writes IMAGE to PATH in FORMAT with OPTION through a temporary file in the same folder,
// which takes the permissions of the file it replaces and is renamed over PATH only when the
// write succeeded: a failed save removes it and leaves an existing file as it was. PROGRESS
// and USER go to the image library's Save. Returns the library's status; ERROR receives the
// system's error number behind a failure (ENOSPC for a full disk).
long SaveImageAtomically(const TesseraClass& image, const QString& path, uint32_t format, int32_t option,
                         TesProgressProc progress, void* user, int* error);

// Where the temporary for TARGET goes, instead of a new file beside it (tests point it at a
// full device); empty restores the default.
void SetAtomicSaveTemporaryHook(std::function<QString(const QString& target)> hook);

}  // namespace orvax::app
