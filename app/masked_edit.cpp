#include "masked_edit.h"

#include <QApplication>
#include <QKeyEvent>

namespace orvax::app {

CMaskedEdit::CMaskedEdit(QWidget* parent) : QLineEdit(parent) { SetMask(QStringLiteral("XXXXX")); }

void CMaskedEdit::SetMask(const QString& text) {
  mask_.clear();
  for (QChar c : text) {
    if (QStringLiteral("xX!9").contains(c)) mask_ += c.toUpper();
  }
  // An edit box limited to no characters at all would be unusable: an empty mask leaves the
  // length open, as the system's edit box does with a limit of 0.
  setMaxLength(mask_.isEmpty() ? 32767 : static_cast<int>(mask_.size()));
}

bool CMaskedEdit::Admits(QChar mask, QChar c, QChar* stored) {
  *stored = c;
  switch (mask.unicode()) {
    case '9': return c.isDigit();
    case 'X': return true;
    case '!': *stored = c.toUpper(); return true;
    default: return false;
  }
}

void CMaskedEdit::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  const bool printable = typed.size() == 1 && typed[0].isPrint() &&
                         !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  if (!printable) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  // The character lands where the caret is (at the start of a selection it replaces).
  const int position = hasSelectedText() ? selectionStart() : cursorPosition();
  QChar stored;
  const bool full = !hasSelectedText() && text().size() >= maxLength();
  if (full || position >= mask_.size() || !Admits(mask_[position], typed[0], &stored)) {
    ++beeps_;
    QApplication::beep();
    event->accept();
    return;
  }
  if (stored == typed[0]) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  QKeyEvent upper(event->type(), event->key(), event->modifiers(), QString(stored), event->isAutoRepeat(),
                  static_cast<ushort>(event->count()));
  QLineEdit::keyPressEvent(&upper);
  event->setAccepted(upper.isAccepted());
}

}  // namespace orvax::app
