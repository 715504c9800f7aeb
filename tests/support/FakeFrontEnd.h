#pragma once
// A front end for tests: records every alert and answers the confirmation
// with a scripted answer, so no test ever waits on a person.
#include <QString>
#include <QStringList>
#include <deque>

#include "app/FrontEnd.h"

class FakeFrontEnd final : public FrontEnd {
 public:
  struct Shown {
    QString kind;  // "alert" or "ask"
    QString title;
    QString text;
  };

  void showAlert(const QString& title, const QString& text) override {
    shown.push_back({"alert", title, text});
  }
  bool askToApply(const QString& title, const QString& text) override {
    shown.push_back({"ask", title, text});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<int> nothingToDo() override {
    ++nothingToDoCalls;
    return idleStatus;
  }
  void downloadProgress(qint64, qint64) override {}
  void downloadFinished() override {}

  std::deque<bool> answers;
  std::optional<int> idleStatus;  // nullopt: stay running like the dialog front end
  std::vector<Shown> shown;
  int nothingToDoCalls = 0;
};
