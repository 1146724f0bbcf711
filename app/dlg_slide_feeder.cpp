#include "dlg_slide_feeder.h"

#include "framework/win_app.h"
#include "string_table.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvax::app {

CDlgSlideFeeder::CDlgSlideFeeder(QWidget* parent) : QDialog(parent) {
  setObjectName("SlideFeeder");
  setWindowTitle(QStringLiteral("Slide Feeder"));
  edit_ = new QLineEdit(QString::number(m_nSlides));
  edit_->setObjectName("slides");  // control 1000
  edit_->setValidator(new QIntValidator(0, 999, edit_));
  auto* form = new QFormLayout;
  form->addRow(new QLabel(QStringLiteral("Number of slides to scan:")), edit_);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("Scan"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgSlideFeeder::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

bool CDlgSlideFeeder::UpdateData() {
  bool ok = false;
  const int value = edit_->text().trimmed().toInt(&ok);
  if (!ok || value < 0 || value > 999) {
    framework::AfxMessageBox(LoadString(AFX_IDP_PARSE_INT),
                             framework::MB_OK | framework::MB_ICONEXCLAMATION);
    edit_->setFocus();
    return false;
  }
  m_nSlides = value;
  return true;
}

void CDlgSlideFeeder::accept() {
  if (UpdateData()) QDialog::accept();
}

}  // namespace orvax::app
