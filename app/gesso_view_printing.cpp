// The image view's printing: the Print dialog with the image's options, the trial drawing
// before a job starts, the page (caption and image placed by the print layout), and why a
// page could not be printed.
#include "gesso_view.h"

#include "dlg_print_image.h"
#include "framework/printing.h"
#include "framework/win_app.h"
#include "gesso_doc.h"
#include "print_layout.h"
#include "qpainter_dc.h"
#include "scan_app.h"
#include "string_table.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <algorithm>

namespace orvax::app {

using framework::AfxMessageBox;
using framework::MB_ICONEXCLAMATION;
using framework::MB_OK;

bool CGessoView::OnPreparePrinting(framework::CPrintInfo* info) {
  CGessoDoc* doc = GetDocument();
  tagTes_Image_Desc desc{};
  if (doc == nullptr || doc->Image() == nullptr || doc->Image()->GetImageDesc(&desc) != 0 || desc.width <= 0 ||
      desc.height <= 0)
    return false;
  auto dialog = std::make_unique<CDlgPrintImage>(
      false, framework::PD_ALLPAGES | framework::PD_USEDEVMODECOPIES | framework::PD_NOPAGENUMS |
                 framework::PD_NOSELECTION,
      this);
  dialog->m_pd.nMinPage = dialog->m_pd.nFromPage = 1;
  dialog->m_pd.nMaxPage = dialog->m_pd.nToPage = 1;
  dialog->m_pd.Flags |= framework::PD_ENABLEPRINTTEMPLATE;
  dialog->m_pd.Flags &= ~framework::PD_HIDEPRINTTOFILE;
  dialog->m_pd.nPrintTemplate = CDlgPrintImage::IDD_PRINT_IMAGE;
  dialog->m_bFitToPage = true;
  dialog->m_nResolution = 72;
  dialog->m_rectImage = {0, 0, desc.width, desc.height};
  info->m_pPD = std::move(dialog);
  return DoPreparePrinting(info);
}

void CGessoView::OnBeginPrinting(framework::CDC* dc, framework::CPrintInfo* info) {
  printStatus_ = 0;
  // A printer spools what it is given; a job that began cannot always be called back. So
  // the image is drawn for the printer once into a one-pixel page before the job starts,
  // and a job whose image could not be drawn (a printer profile that cannot be used, say)
  // is not started at all. The preview only shows the page and skips this.
  if (!info->m_bPreview) {
    CGessoDoc* doc = GetDocument();
    if (doc != nullptr && doc->Image() != nullptr) {
      QImage probe(1, 1, QImage::Format_RGB888);
      QPainter painter(&probe);
      QPainterDC probeDc(painter, QRect(0, 0, 1, 1));
      tagTes_Output_Info out{};
      out.hdc = &probeDc;
      out.clipWidth = out.clipHeight = out.imageWidth = out.imageHeight = 1;
      printStatus_ = doc->Image()->Print(out);
      if (printStatus_ != 0) info->m_bPageFailed = true;
    }
  }
  // Twelve points at the printer's vertical resolution, default face and weight.
  captionFont_ = std::make_unique<QFont>();
  captionFont_->setPixelSize(std::max(1, dc->GetDeviceCaps(framework::LOGPIXELSY) * 12 / 72));
  captionFont_->setWeight(QFont::Normal);
}

void CGessoView::OnPrint(framework::CDC* dc, framework::CPrintInfo* info) {
  CGessoDoc* doc = GetDocument();
  tagTes_Image_Desc desc{};
  printStatus_ = TES_ERR_NO_IMAGE;
  if (doc == nullptr || doc->Image() == nullptr || doc->Image()->GetImageDesc(&desc) != 0) return;
  auto* dialog = dynamic_cast<CDlgPrintImage*>(info->m_pPD.get());
  const bool fit = dialog == nullptr || dialog->m_bFitToPage;
  const int resolution = dialog != nullptr ? dialog->m_nResolution : 72;

  const QString caption = doc->GetPathName().isEmpty() ? doc->GetTitle() : doc->GetPathName();
  if (captionFont_) dc->SelectObject(*captionFont_);
  const int t = dc->GetTextHeight();
  const PrinterCaps caps{dc->GetDeviceCaps(framework::HORZRES), dc->GetDeviceCaps(framework::VERTRES),
                         dc->GetDeviceCaps(framework::LOGPIXELSX), dc->GetDeviceCaps(framework::LOGPIXELSY)};
  const std::optional<PageLayout> layout = ComputePageLayout(caps, desc.width, desc.height, t, fit, resolution);
  if (!layout) return;

  dc->SetTextAlign(framework::TA_CENTER | framework::TA_TOP);
  dc->TextOut(layout->captionX, layout->captionTop, caption);
  if (layout->outputWidth <= 0 || layout->outputHeight <= 0) {
    printStatus_ = 0;  // nothing of the image fits on this page
    return;
  }

  // Image pixels map onto the output rectangle.
  dc->SetMapMode(framework::MM_ANISOTROPIC);
  dc->SetWindowExt(desc.width, desc.height);
  dc->SetViewportExt(layout->outputWidth, layout->outputHeight);
  dc->SetViewportOrg(layout->left, layout->top);
  tagTes_Output_Info out{};
  out.hdc = dc->GetSafeHdc();
  out.clipX = 0;
  out.clipY = 0;
  out.clipWidth = desc.width;
  out.clipHeight = desc.height;
  out.imageX = 0;
  out.imageY = 0;
  out.imageWidth = desc.width;
  out.imageHeight = desc.height;
  printStatus_ = doc->Image()->Print(out);
  dc->SetMapMode(framework::MM_TEXT);
  dc->SetViewportOrg(0, 0);
  // A page with its caption and no image is not a print: the job is abandoned.
  if (printStatus_ != 0) info->m_bPageFailed = true;
}

QString CGessoView::PrintFailureReason(long status) {
  switch (status) {
    case TES_ERR_CM_INIT: {
      ds::CString printer;
      CScanApp* app = CScanApp::Instance();
      if (app != nullptr && app->Module().IsLoaded()) app->Module()->GetPrinterProfile(&printer);
      return FormatString1(IDS_PRINT_WHY_PROFILE, QString::fromStdString(printer.c_str())).replace("  ", " ");
    }
    case TES_ERR_CM_LUT:
    case TES_ERR_CM_PROCESS: {
      ds::CString printer;
      CScanApp* app = CScanApp::Instance();
      if (app != nullptr && app->Module().IsLoaded()) app->Module()->GetPrinterProfile(&printer);
      return FormatString1(IDS_PRINT_WHY_MATCH, QString::fromStdString(printer.c_str())).trimmed();
    }
    case TES_ERR_NO_MEMORY: return LoadString(IDS_PRINT_WHY_MEMORY);
    case TES_ERR_DEVICE: return LoadString(IDS_PRINT_WHY_DEVICE);
    case TES_ERR_NO_IMAGE: return LoadString(IDS_PRINT_WHY_NOIMAGE);
    default: return LoadString(IDS_PRINT_WHY_OTHER);
  }
}

void CGessoView::OnEndPrinting(framework::CDC* dc, framework::CPrintInfo* info) {
  dc->SelectStockFont();
  captionFont_.reset();
  viewport()->update();
  // A page whose image could not be drawn (a printer profile that cannot be read, say) was
  // abandoned; the user hears why instead of finding a blank sheet. The preview shows the
  // page as it is and stays quiet.
  if (printStatus_ != 0 && !info->m_bPreview) {
    CGessoDoc* doc = GetDocument();
    const QString name = doc == nullptr ? QString() : doc->GetPathName().isEmpty() ? doc->GetTitle() : doc->GetPathName();
    QString text = FormatString1(IDS_ERR_PRINT, name);
    text.replace(QStringLiteral("%2"), PrintFailureReason(printStatus_));
    text.replace(QStringLiteral("%3"), QString::number(printStatus_));
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
  }
}

}  // namespace orvax::app
