// The scripted mode: the script read when the source opens, its actions run one after
// another, and the lines it reports.
#include "twain_source.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace orvax::ds {

using namespace twain;

void TwainSource::LoadScript() {
  // The script is read once; a different script file starts over.
  if (const QByteArray path = qgetenv("ORVAX_DS_SCRIPT"); path != scriptPath_) {
    scriptPath_ = path;
    script_.clear();
    scriptPos_ = 0;
    offer_ = QStringLiteral("both");
    if (!path.isEmpty()) {
      QFile file(QString::fromLocal8Bit(path));
      QString error;
      std::optional<QList<ScriptAction>> actions;
      if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        actions = ParseScript(QString::fromUtf8(file.readAll()), &error);
      else
        error = QStringLiteral("cannot read it");
      if (!actions) {
        std::fprintf(stderr, "Orvax Scan.ds: script %s: %s\n", path.constData(), error.toLocal8Bit().constData());
      } else {
        for (const ScriptAction& action : *actions) {
          // Mechanisms are negotiated before any action runs, so they apply from the start.
          if (action.kind == ScriptAction::Kind::Offer) offer_ = action.offer;
          else script_.push_back(action);
        }
      }
    }
  }
}

void TwainSource::Report(const QString& line) const {
  if (Scripted()) {
    std::fprintf(stdout, "Orvax Scan.ds: %s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
  }
  if (const QByteArray path = qgetenv("ORVAX_DS_REPORT"); !path.isEmpty()) {
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::Append | QIODevice::Text)) QTextStream(&file) << line << '\n';
  }
}

void TwainSource::ScheduleNextAction() {
  if (!window_) return;
  QTimer::singleShot(0, window_, [this] { RunNextAction(); });
}

void TwainSource::RunNextAction() {
  if (state_ != 5 || scriptPos_ >= script_.size()) return;
  const ScriptAction action = script_[scriptPos_++];
  switch (action.kind) {
    case ScriptAction::Kind::Scan:
      if (!RequestScan(action.job)) ScheduleNextAction();
      break;
    case ScriptAction::Kind::Close:
      Post(MSG_CLOSEDSREQ);
      // A closed source runs no more actions; a "quit" right behind "close" still ends the run.
      if (scriptPos_ < script_.size() && script_[scriptPos_].kind == ScriptAction::Kind::Quit) {
        ++scriptPos_;
        QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
      }
      break;
    case ScriptAction::Kind::Quit:
      // The application quits only when every window may close, and the scanner window
      // closes with the source: ask for that first, as "close" does.
      Post(MSG_CLOSEDSREQ);
      QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
      break;
    case ScriptAction::Kind::Offer: ScheduleNextAction(); break;
    case ScriptAction::Kind::Device:
      if (window_ && !window_->ChooseDevice(action.device)) Report(QStringLiteral("device %1 is not connected").arg(action.device));
      ScheduleNextAction();
      break;
  }
}

}  // namespace orvax::ds
