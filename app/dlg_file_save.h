// The Save As dialog: the standard file dialog with one more label and drop-down list. Its
// filter lists only the formats that can hold the image's colour space, in a fixed order;
// the list offers the compression of the JPEG and FlashPix entries. The chosen option
// index lives for the whole run.
#pragma once

#include <QFileDialog>
#include <QList>
#include <QString>

class QComboBox;
class QLabel;

namespace orvax::app {

class CDlgFileSave : public QFileDialog {
  Q_OBJECT
 public:
  // One entry of the filter: its description and its extension without the dot.
  struct FilterEntry {
    int stringId;
    QString description;
    QString extension;
  };

  // The dialog's own filter is built from MASK; FILTER is ignored.
  CDlgFileSave(unsigned long mask, const QString& defaultExtension, const QString& initialName, unsigned flags,
               const QString& filter, QWidget* parent);

  // The formats MASK admits, in the dialog's order (BMP, FlashPix, JPEG, TIFF).
  static QList<FilterEntry> BuildFilter(unsigned long mask);
  // The filter as the Windows dialog takes it: "description|*.ext|" per entry, every "|"
  // turned into a NUL.
  static QString FilterString(const QList<FilterEntry>& entries);
  // The 1-based entry whose extension ends NAME (case-insensitive); 1 when none does.
  static int InitialFilterIndex(const QList<FilterEntry>& entries, const QString& name);
  // NAME with its extension replaced by EXTENSION (without dot), or EXTENSION appended
  // when NAME has none: a "." found scanning back before any ":", "\" or "/" marks it.
  static QString ForceExtension(const QString& name, const QString& extension);

  // The program-wide option index (starts at 2) and the mask handed to the dialog.
  static int s_optionIndex;
  static unsigned long s_formatMask;

  const QList<FilterEntry>& Entries() const { return entries_; }
  // 1-based positions of the JPEG and FlashPix entries (0 when absent).
  int JpegIndex() const { return jpegIndex_; }
  int FpxIndex() const { return fpxIndex_; }
  int SelectedIndex() const { return selected_; }
  // Selects entry INDEX (1-based) as the user would, and runs the type-change rules.
  void SelectType(int index);

  QLabel* OptionsLabel() const { return label_; }
  QComboBox* OptionsList() const { return list_; }
  // The name in the file-name box.
  QString FileNameText() const;
  void SetFileNameText(const QString& text);
  // OK with the name in the box: SaveFormat takes its extension; returns the full path.
  QString Accept();

 private:
  void OnTypeChange();
  void FillOptions(bool fpx);

  QList<FilterEntry> entries_;
  QStringList qtFilters_;
  int jpegIndex_ = 0;
  int fpxIndex_ = 0;
  int selected_ = 1;
  QLabel* label_ = nullptr;
  QComboBox* list_ = nullptr;
  bool filling_ = false;
};

}  // namespace orvax::app
