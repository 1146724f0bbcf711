// "Slide Feeder": asks for the number of slides to scan; Scan accepts, Cancel rejects.
#pragma once

#include <QDialog>

class QLineEdit;

namespace orvax::app {

class CDlgSlideFeeder : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgSlideFeeder(QWidget* parent = nullptr);

  int m_nSlides = 0;
  // Reads the edit box into m_nSlides; false (with a message) when it is not a whole
  // number from 0 to 999.
  bool UpdateData();
  void accept() override;

 private:
  QLineEdit* edit_;
};

}  // namespace orvax::app
