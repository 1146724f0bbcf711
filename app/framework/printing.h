// Printing in the framework's manner, over Qt Print Support: the printer settings the
// application keeps between jobs, the print dialog (printer choice, Properties, status,
// print to file, copies), the print information a job carries, the device context a view
// draws the page through, and the flow of Print, print direct and Print Preview. Defined in
// printing.cpp (settings, hooks, print information), print_dialog.cpp, print_dc.cpp (the
// device context) and print_flow.cpp (the preview, the view's flow, the application's
// printer).
#pragma once

#include "win/gdi.h"

#include <QDialog>
#include <QFont>
#include <QPageLayout>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPainter;
class QPaintDevice;
class QPrinter;
class QPrintPreviewWidget;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace orvax::app {
class QPainterDC;
}

namespace orvax::framework {

// Print dialog flags, with Windows' values.
enum : unsigned {
  PD_ALLPAGES = 0x0,
  PD_SELECTION = 0x1,
  PD_PAGENUMS = 0x2,
  PD_NOSELECTION = 0x4,
  PD_NOPAGENUMS = 0x8,
  PD_COLLATE = 0x10,
  PD_PRINTTOFILE = 0x20,
  PD_PRINTSETUP = 0x40,
  PD_ENABLEPRINTTEMPLATE = 0x4000,
  PD_HIDEPRINTTOFILE = 0x100000,
  PD_USEDEVMODECOPIES = 0x40000,
};

// The printer a job goes to and how: what the system keeps as a device mode and device
// names. An empty printer name is the PDF writer.
struct CPrinterSettings {
  QString printerName;
  bool printToFile = false;
  QString outputFileName;   // the file of a PDF or of a print to file; empty: ask
  QPageLayout pageLayout;   // invalid: the printer's own
  int resolution = 0;       // dots per inch; 0: the printer's high resolution
  int copies = 1;
  bool collate = true;

  bool IsPdf() const { return printerName.isEmpty(); }
  bool WritesFile() const { return IsPdf() || printToFile; }
  // Sets PRINTER up from these settings (the output file only when WITHFILE).
  void ApplyTo(QPrinter& printer, bool withFile = true) const;
  // The system's default printer, or the PDF writer when there is none.
  static CPrinterSettings SystemDefault();
};

// The name the printer list shows for the PDF writer.
QString PdfPrinterLabel();

// What PRINTDLG holds for the dialog.
struct PRINTDLG {
  unsigned Flags = 0;
  int nFromPage = 1, nToPage = 1;
  int nMinPage = 1, nMaxPage = 1;
  int nCopies = 1;
  int nPrintTemplate = 0;  // the dialog template of PD_ENABLEPRINTTEMPLATE
};

// The standard print dialog: printer (1139), Properties (1025), status, type, where and
// comment, print to file (1040), copies (1154) and collate (1041), the page range (hidden
// when neither page numbers nor a selection may be chosen), OK and Cancel. A print setup
// dialog shows the printer part only. A dialog with its own template adds its controls in
// BuildTemplate.
class CPrintDialog : public QDialog {
  Q_OBJECT
 public:
  CPrintDialog(bool printSetupOnly, unsigned flags, QWidget* parent = nullptr);
  ~CPrintDialog() override;

  PRINTDLG m_pd;
  // The settings shown when the dialog opens; the choice made when it closes with OK.
  CPrinterSettings m_settings;

  bool IsPrintSetup() const { return (m_pd.Flags & PD_PRINTSETUP) != 0; }

  // Builds the controls (once) and runs the set-up. DoModal does it; tests that drive the
  // dialog themselves call it first.
  void Create();
  // Shows the dialog modally (or hands it to the modal hook); IDOK or IDCANCEL.
  int DoModal();

  // The control numbered ID, or null.
  QWidget* GetDlgItem(int id) const;
  // The settings as the controls show them now.
  CPrinterSettings CurrentSettings() const;
  // Chooses the printer NAME in the list (empty: the PDF writer); false when not listed.
  bool SelectPrinter(const QString& name);
  QString StatusText() const;
  QString TypeText() const;
  QString WhereText() const;
  QString CommentText() const;

  // Runs the Properties page set-up for the chosen printer.
  void OnProperties();

 protected:
  // Adds a dialog template's own controls below the standard ones.
  virtual void BuildTemplate(QVBoxLayout* layout) {}
  virtual void OnInitDialog() {}
  // OK: takes the controls into m_settings and closes; a derived dialog checks first.
  virtual void OnOK();
  // After another printer is chosen or its Properties return.
  virtual void OnPrinterChanged() {}

 private:
  void FillPrinterList();
  void ShowPrinterInfo();

  bool created_ = false;
  QComboBox* printers_ = nullptr;
  QPushButton* properties_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* type_ = nullptr;
  QLabel* where_ = nullptr;
  QLabel* comment_ = nullptr;
  QCheckBox* printToFile_ = nullptr;
  QGroupBox* copiesGroup_ = nullptr;
  QSpinBox* copies_ = nullptr;
  QCheckBox* collate_ = nullptr;
  QGroupBox* rangeGroup_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPageLayout pageLayout_;  // what Properties chose
};

// A print job's information: the dialog, how the job runs and which page is drawn.
struct CPrintInfo {
  CPrintInfo();
  ~CPrintInfo();

  std::unique_ptr<CPrintDialog> m_pPD;
  bool m_bDirect = false;   // print without the dialog
  bool m_bPreview = false;  // drawing for Print Preview
  bool m_bContinuePrinting = true;
  // Set by the view when a page cannot be drawn as it should. Set in OnBeginPrinting, no
  // job is started; set in OnPrint, the job is abandoned and a file it wrote (a PDF, a print
  // file) removed. The view tells the user why.
  bool m_bPageFailed = false;
  int m_nCurPage = 1;
  QRect m_rectDraw;  // the printable area of the page, in device pixels

  void SetMinPage(int page) { m_pPD->m_pd.nMinPage = page; }
  void SetMaxPage(int page) { m_pPD->m_pd.nMaxPage = page; }
  int GetMinPage() const { return m_pPD->m_pd.nMinPage; }
  int GetMaxPage() const { return m_pPD->m_pd.nMaxPage; }
};

// Device capabilities, text alignment and mapping modes, with Windows' numbers.
enum : int { HORZRES = 8, VERTRES = 10, LOGPIXELSX = 88, LOGPIXELSY = 90 };
enum : unsigned { TA_LEFT = 0, TA_TOP = 0, TA_CENTER = 6, TA_BASELINE = 24 };
enum : int { MM_TEXT = 1, MM_ANISOTROPIC = 8 };

// A device context over a paint device (a printer, a preview page, an image): the
// capabilities, a selected font, text output and the window-to-viewport mapping. While a
// painter is attached it draws; GetSafeHdc gives the image library a context that draws in
// the mapped (logical) coordinates.
class CDC {
 public:
  explicit CDC(QPaintDevice* device);
  ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  bool m_bPrinting = false;
  bool IsPrinting() const { return m_bPrinting; }

  void Attach(QPainter* painter);
  void Detach();
  QPainter* Painter() const { return painter_; }
  QPaintDevice* Device() const { return device_; }

  int GetDeviceCaps(int index) const;

  // Selects FONT (a copy is kept) and returns the one selected before.
  QFont SelectObject(const QFont& font);
  // Selects the system's stock font.
  void SelectStockFont();
  const QFont& SelectedFont() const { return font_; }
  // The selected font's cell height (ascent and descent) in device pixels.
  int GetTextHeight() const;
  QSize GetTextExtent(const QString& text) const;
  unsigned SetTextAlign(unsigned align);
  void TextOut(int x, int y, const QString& text);

  int SetMapMode(int mode);
  QSize SetWindowExt(int cx, int cy);
  QSize SetViewportExt(int cx, int cy);
  QPoint SetViewportOrg(int x, int y);

  // A device context for StretchDIBits in the current logical coordinates; valid until the
  // mapping changes or the painter is detached. Null without a painter.
  win::DeviceContext* GetSafeHdc();

 private:
  void ApplyMapping();

  QPaintDevice* device_;
  QPainter* painter_ = nullptr;
  QFont font_;
  unsigned align_ = TA_LEFT | TA_TOP;
  int mapMode_ = MM_TEXT;
  QSize windowExt_{1, 1}, viewportExt_{1, 1};
  QPoint viewportOrg_;
  std::unique_ptr<app::QPainterDC> hdc_;
};

// Replaces the modal run of print dialogs and of the preview window, for tests and scripted
// runs: the hook receives the dialog, may work its controls, and returns IDOK or IDCANCEL.
// An empty function restores the normal modal run.
void SetModalHook(std::function<int(QDialog& dialog)> hook);
// Runs DIALOG modally, or through the hook when one is set.
int RunModal(QDialog& dialog);

// Asks where a print to file or PDF goes (SUGGESTED is the name offered); empty when the
// user cancels. A hook replaces the file dialog for tests; an empty function restores it.
QString PromptPrintFileName(const QString& suggested);
void SetPrintFilePromptHook(std::function<QString(const QString& suggested)> hook);

// The Print Preview window: the pages of a job on screen, with Print..., zooming and Close.
class CPrintPreviewDialog : public QDialog {
  Q_OBJECT
 public:
  CPrintPreviewDialog(QPrinter* printer, QWidget* parent = nullptr);
  QPrintPreviewWidget* Preview() const { return preview_; }
  // Whether the window was closed with its Print... button.
  bool PrintRequested() const { return printRequested_; }

 signals:
  void paintRequested(QPrinter* printer);

 private:
  QPrintPreviewWidget* preview_;
  bool printRequested_ = false;
};

}  // namespace orvax::framework
