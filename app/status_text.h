// Why an open or a save failed, in words for the person who asked for it: the one place
// where the image library's status codes, and what the system said, become the detail under
// a message (the message itself stays the program's own text).
#pragma once

#include "framework/win_app.h"

#include <QString>

namespace orvax::app {

enum class FileAction { Open, Save };

// The reason an ACTION on PATH ended with STATUS. ERROR is the system's error number where
// the failure came from the system (0 when unknown). Where the status alone does not say
// enough, PATH and its folder are looked at: missing, a folder, empty, not readable, not
// writable. With CMS the colour management system is on.
QString FailureReason(FileAction action, long status, const QString& path, int error = 0, bool cms = true);

// The small print: "Status code 1013" for TES_ERR_UNKNOWN_FORMAT, say, with the system's
// error number and text behind it when there is one.
QString FailureCodes(long status, int error = 0);

// Both, ready for a message box.
framework::MessageDetail FailureDetail(FileAction action, long status, const QString& path, int error = 0,
                                       bool cms = true);

}  // namespace orvax::app
