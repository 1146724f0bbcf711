#include "dlg_file_save.h"

#include "registry_settings.h"
#include "scan_app.h"
#include "string_table.h"

#include <tessera/tessera.h>

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace orvax::app {

int CDlgFileSave::s_optionIndex = 2;
unsigned long CDlgFileSave::s_formatMask = 0;

namespace {

struct Format {
  int stringId;
  unsigned long bits;
};
// The dialog's order.
constexpr Format kFormats[] = {
    {IDS_FORMAT_BMP, TES_FILE_BMP},
    {IDS_FORMAT_FPX, TES_FILE_FPX | TES_FILE_FPX_JPEG},
    {IDS_FORMAT_JPEG, TES_FILE_JPEG},
    {IDS_FORMAT_TIFF, TES_FILE_TIFF | TES_FILE_TIFF_COMPRESSED},
};

// The options template's controls.
constexpr int kLabelId = 1039;
constexpr int kListId = 1138;

}  // namespace

QList<CDlgFileSave::FilterEntry> CDlgFileSave::BuildFilter(unsigned long mask) {
  QList<FilterEntry> entries;
  for (const Format& f : kFormats) {
    if ((mask & f.bits) == 0) continue;
    const QString text = LoadString(f.stringId);
    const QString description = TemplateField(text, 0);
    QString extension = TemplateField(text, 1);
    if (extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
    entries.push_back({f.stringId, description, extension});
  }
  return entries;
}

QString CDlgFileSave::FilterString(const QList<FilterEntry>& entries) {
  QString filter;
  for (const FilterEntry& e : entries) filter += e.description + QStringLiteral("|*.") + e.extension + QLatin1Char('|');
  filter.replace(QLatin1Char('|'), QChar(0));
  return filter;
}

int CDlgFileSave::InitialFilterIndex(const QList<FilterEntry>& entries, const QString& name) {
  for (int i = 0; i < entries.size(); ++i) {
    if (name.endsWith(entries[i].extension, Qt::CaseInsensitive)) return i + 1;
  }
  return 1;
}

QString CDlgFileSave::ForceExtension(const QString& name, const QString& extension) {
  for (int i = name.size() - 1; i >= 0; --i) {
    const QChar c = name[i];
    if (c == QLatin1Char(':') || c == QLatin1Char('\\') || c == QLatin1Char('/')) break;
    if (c == QLatin1Char('.')) return name.left(i + 1) + extension;
  }
  return name + QLatin1Char('.') + extension;
}

CDlgFileSave::CDlgFileSave(unsigned long mask, const QString& /*defaultExtension*/, const QString& initialName,
                           unsigned /*flags*/, const QString& /*filter*/, QWidget* parent)
    : QFileDialog(parent) {
  // The options live in the dialog's own layout, which only Qt's dialog has.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setOption(QFileDialog::DontConfirmOverwrite, false);

  entries_ = BuildFilter(mask);
  for (int i = 0; i < entries_.size(); ++i) {
    qtFilters_ << QStringLiteral("%1 (*.%2)").arg(entries_[i].description, entries_[i].extension);
    if (entries_[i].stringId == IDS_FORMAT_JPEG) jpegIndex_ = i + 1;
    if (entries_[i].stringId == IDS_FORMAT_FPX) fpxIndex_ = i + 1;
  }
  setNameFilters(qtFilters_);

  label_ = new QLabel(LoadString(IDS_OPT_JPEG), this);
  label_->setProperty("controlId", kLabelId);
  list_ = new QComboBox(this);
  list_->setProperty("controlId", kListId);
  label_->setBuddy(list_);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    const int row = grid->rowCount();
    grid->addWidget(label_, row, 0);
    grid->addWidget(list_, row, 1);
  }
  connect(list_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!filling_ && index >= 0) s_optionIndex = index;
  });
  connect(this, &QFileDialog::filterSelected, this, [this](const QString& filter) {
    const int index = static_cast<int>(qtFilters_.indexOf(filter));
    if (index >= 0) {
      selected_ = index + 1;
      OnTypeChange();
    }
  });

  const QFileInfo info(initialName);
  if (!initialName.isEmpty() && info.isAbsolute()) setDirectory(info.absolutePath());
  selected_ = InitialFilterIndex(entries_, initialName);
  if (!qtFilters_.isEmpty()) selectNameFilter(qtFilters_[selected_ - 1]);
  // The name starts with the selected type's extension.
  SetFileNameText(info.fileName().isEmpty() ? initialName : info.fileName());
  OnTypeChange();
}

QString CDlgFileSave::FileNameText() const {
  if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) return edit->text();
  return {};
}

void CDlgFileSave::SetFileNameText(const QString& text) {
  if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) edit->setText(text);
  else selectFile(text);
}

void CDlgFileSave::SelectType(int index) {
  if (index < 1 || index > entries_.size()) return;
  selected_ = index;
  selectNameFilter(qtFilters_[index - 1]);
  OnTypeChange();
}

void CDlgFileSave::OnTypeChange() {
  const bool options = selected_ == jpegIndex_ || selected_ == fpxIndex_;
  if (options) FillOptions(selected_ == fpxIndex_);
  label_->setVisible(options);
  list_->setVisible(options);
  if (selected_ >= 1 && selected_ <= entries_.size()) {
    const QString name = FileNameText();
    if (!name.isEmpty()) SetFileNameText(ForceExtension(name, entries_[selected_ - 1].extension));
  }
}

void CDlgFileSave::FillOptions(bool fpx) {
  filling_ = true;
  list_->clear();
  if (fpx) {
    label_->setText(LoadString(IDS_OPT_FPX));
    list_->addItem(LoadString(IDS_OPT_NOCOMPRESSION));
  } else {
    label_->setText(LoadString(IDS_OPT_JPEG));
  }
  for (int id = IDS_OPT_LEVEL1; id <= IDS_OPT_LEVEL5; ++id) list_->addItem(LoadString(id));
  const int index = s_optionIndex < list_->count() ? s_optionIndex : 0;
  list_->setCurrentIndex(index);
  s_optionIndex = index;
  filling_ = false;
}

QString CDlgFileSave::Accept() {
  // A dialog closed with OK knows its chosen file; otherwise the name box is the choice.
  const QString name = result() == QDialog::Accepted && !selectedFiles().isEmpty() ? selectedFiles().front()
                                                                                    : FileNameText();
  const QString path = QFileInfo(name).isAbsolute() ? name : directory().absoluteFilePath(name);
  const QString file = QFileInfo(path).fileName();
  const int dot = static_cast<int>(file.lastIndexOf(QLatin1Char('.')));
  if (dot >= 0) {
    const CRegistrySettings fallback;
    const CRegistrySettings& reg = CScanApp::Instance() != nullptr ? CScanApp::Instance()->Registry() : fallback;
    GeneralSettings::SetSaveFormat(reg, file.mid(dot));
  }
  return path;
}

}  // namespace orvax::app
