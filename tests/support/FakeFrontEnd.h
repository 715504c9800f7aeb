#pragma once
// A front end for tests: records every alert and answers the confirmation
// with a scripted answer, so no test ever waits on a person.
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include <gtest/gtest.h>

#include "flow/FrontEnd.h"
#include "package/PackageThumbnail.h"

class FakeFrontEnd final : public FrontEnd {
 public:
  struct Shown {
    QString kind;  // "notice", "problem", "usage" or "ask"
    QString title;
    QString text;
    ConfirmationDetails details;  // of a question
    QSize thumbnail;              // its thumbnail's size while it was open; empty for none
  };

  void showAlert(AlertKind kind, const QString& title, const QString& text) override {
    const char* name = kind == AlertKind::problem ? "problem"
                       : kind == AlertKind::usage ? "usage"
                                                  : "notice";
    shown.push_back({name, title, text, {}, {}});
    whileShowing(title);
  }
  bool askToApply(const QString& title, const QString& text,
                  const ConfirmationDetails& details) override {
    shown.push_back(
        {"ask", title, text, details, details.thumbnail ? details.thumbnail->size() : QSize()});
    whileShowing(title);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void applyStarted(const QString& name, std::function<bool()> cancelDownload) override {
    steps.append("started " + name);
    cancel = std::move(cancelDownload);
    if (onApplyStarted) onApplyStarted();
  }
  void downloadProgress(qint64, qint64) override {}
  void engineStarted() override {
    steps.append("engine");
    if (onEngineStarted) onEngineStarted();
  }
  void applyEnded() override {
    steps.append("ended");
    if (onApplyEnded) onApplyEnded();
  }

  std::deque<bool> answers;
  std::vector<Shown> shown;
  QStringList steps;                      // applyStarted, engineStarted, applyEnded in order
  std::function<bool()> cancel;           // as applyStarted gave it
  std::function<void()> onApplyStarted;   // runs inside applyStarted
  std::function<void()> onEngineStarted;  // runs inside engineStarted
  std::function<void()> onApplyEnded;     // runs inside applyEnded
  /// Runs while each alert or question is open, given its title, as a modal
  /// dialog's own event loop runs whatever arrives meanwhile.
  std::function<void(const QString& title)> whileOpen;

 private:
  int openNow_ = 0;

  void whileShowing(const QString& title) {
    // A real dialog opened on top of another one may never be drawn, and
    // closing the top one may close both: never more than one at a time.
    EXPECT_EQ(openNow_, 0) << "opened on top of another alert: " << title.toStdString();
    ++openNow_;
    if (whileOpen) whileOpen(title);
    --openNow_;
  }
};
