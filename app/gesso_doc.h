// The image document: one TesseraClass image, opened from a file or filled by a scan.
// This holds what start-up and the command line need (opening a file with its messages,
// the monitor gamma); acquisition, transforms and saving build on it.
#pragma once

#include "framework/document.h"

#include <tessera/tessera.h>

#include <memory>

namespace orvax::app {

class CGessoDoc : public framework::CDocument {
  Q_OBJECT
 public:
  CGessoDoc();
  ~CGessoDoc() override;

  TesseraClass* Image() const { return image_.get(); }
  // Takes IMAGE as the document's image (a scan's first strip, or a test's).
  void SetImage(std::unique_ptr<TesseraClass> image);
  bool IsAcquiring() const { return acquiring_; }
  void SetAcquiring(bool on) { acquiring_ = on; }

  bool OnOpenDocument(const QString& path) override;

  // Applies the data source's monitor gamma to the display when colour management is on;
  // with REDRAW the views are updated with hint 4.
  void ApplyMonitorGamma(bool redraw);
  // The 256-entry table for monitor gamma G, and its mode (3, or 2 for no gamma).
  static void GammaTable(double g, unsigned char table[256], short* mode);

  bool OnUpdateCommand(framework::CCmdUI& ui) override;

 private:
  std::unique_ptr<TesseraClass> image_;
  bool acquiring_ = false;
};

}  // namespace orvax::app
