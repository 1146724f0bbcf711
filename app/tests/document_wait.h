// Waiting for scanned documents in the application's tests: scans arrive on the event loop,
// so a test runs events until the documents it expects are complete.
#pragma once

#include "framework/doc_manager.h"
#include "gesso_doc.h"
#include "scan_app.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>

#include <functional>

// Runs events until DONE holds for the application's image documents (none of them still
// acquiring) or 20 seconds pass, then lets the events that follow a transfer run; returns the
// documents.
inline QList<orvax::app::CGessoDoc*> WaitForCompleteDocuments(
    orvax::app::CScanApp& app, const std::function<bool(const QList<orvax::app::CGessoDoc*>&)>& done) {
  QElapsedTimer timer;
  timer.start();
  QList<orvax::app::CGessoDoc*> docs;
  for (;;) {
    docs.clear();
    bool acquiring = false;
    for (orvax::framework::CDocument* d : app.DocManager()->Documents())
      if (auto* doc = qobject_cast<orvax::app::CGessoDoc*>(d)) {
        docs << doc;
        acquiring = acquiring || doc->IsAcquiring();
      }
    if ((!acquiring && done(docs)) || timer.elapsed() > 20000) break;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return docs;
}
