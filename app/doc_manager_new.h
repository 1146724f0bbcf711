// The application's document manager: the open prompt starts in LastDirectory, the save
// prompt goes through CDlgFileSave with the current format mask and remembers the folder.
#pragma once

#include "framework/doc_manager.h"

#include <functional>

namespace orvax::app {

class CDlgFileSave;

class CDocManagerNew : public framework::CDocManager {
 public:
  QStringList DoPromptFileName(const QString& name, int titleId, bool open, bool multi,
                               framework::CMultiDocTemplate* docTemplate) override;
  // The other names of the image files the library reads: .jpeg, .jpe and .jfif beside
  // .jpg, .tiff beside .tif, .dib beside .bmp.
  QStringList ExtensionAliases(const QString& ext) const override;

  // Runs the save dialog instead of showing it: the function gets the dialog as set up and
  // returns whether OK was pressed. Scripted runs and tests use it; empty restores exec().
  using SaveDialogHook = std::function<bool(CDlgFileSave& dialog)>;
  static void SetSaveDialogHook(SaveDialogHook hook);
};

}  // namespace orvax::app
