// The print dialog of an image: the standard print dialog with a Scale group that chooses
// between fitting the image to the page and printing it at a resolution in dots per inch,
// with a warning when that resolution does not suit the page or the printer.
#pragma once

#include "framework/printing.h"
#include "print_layout.h"

#include <functional>
#include <optional>

class QLabel;
class QRadioButton;

namespace orvax::app {

class CMaskedEdit;

class CDlgPrintImage : public framework::CPrintDialog {
  Q_OBJECT
 public:
  // The dialog template of the image print dialog and its own controls.
  enum : int {
    IDD_PRINT_IMAGE = 173,
    IDC_FIT_TO_PAGE = 1028,
    IDC_RESOLUTION = 1029,
    IDC_RESOLUTION_EDIT = 1031,
    IDC_WARNING = 1037,
  };

  CDlgPrintImage(bool printSetupOnly, unsigned flags, QWidget* parent = nullptr);
  ~CDlgPrintImage() override;

  bool m_bFitToPage = true;
  int m_nResolution = 72;
  // The image's extent in pixels: left, top, right, bottom.
  struct Rect {
    int left = 0, top = 0, right = 1, bottom = 1;
  } m_rectImage;

  // Where the warning reads the chosen printer's capabilities from; nothing when the
  // printer cannot be read. The default opens the printer through Qt.
  using CapsSource = std::function<std::optional<PrinterCaps>(const framework::CPrinterSettings&)>;
  void SetCapsSource(CapsSource source) { capsSource_ = std::move(source); }
  static std::optional<PrinterCaps> ReadPrinterCaps(const framework::CPrinterSettings& settings);

  // Re-evaluates the warning for the resolution in the edit box.
  void UpdateWarning();
  // The edit box's text read as a whole number; 0 when it is not one.
  int EditResolution() const;

 protected:
  void BuildTemplate(QVBoxLayout* layout) override;
  void OnInitDialog() override;
  void OnOK() override;
  void OnPrinterChanged() override;

 private:
  void OnFit();
  void OnResolution();

  CapsSource capsSource_ = &CDlgPrintImage::ReadPrinterCaps;
  QRadioButton* fit_ = nullptr;
  QRadioButton* resolution_ = nullptr;
  CMaskedEdit* edit_ = nullptr;
  QLabel* warning_ = nullptr;
};

}  // namespace orvax::app
