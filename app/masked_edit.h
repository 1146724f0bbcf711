// An edit box that admits typed characters by a mask, one mask character per position:
// "9" a digit, "X" any character, "!" any character turned to upper case. The text is no
// longer than the mask. A refused character beeps and is dropped; other keys pass.
#pragma once

#include <QLineEdit>
#include <QString>

namespace orvax::app {

class CMaskedEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit CMaskedEdit(QWidget* parent = nullptr);

  // Takes the characters of TEXT found in "xX!9", upper-cased, as the mask, and limits the
  // text to its length.
  void SetMask(const QString& text);
  const QString& Mask() const { return mask_; }

  // Whether mask character MASK admits C, and the character it stores (upper-cased for "!").
  static bool Admits(QChar mask, QChar c, QChar* stored);

  // How many keys were refused with a beep.
  int BeepCount() const { return beeps_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString mask_;
  int beeps_ = 0;
};

}  // namespace orvax::app
