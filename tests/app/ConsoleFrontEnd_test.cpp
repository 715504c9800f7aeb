#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "app/ConsoleFrontEnd.h"

namespace {

// A console whose input is `answer` and whose output is captured.
class Console {
 public:
  explicit Console(const std::string& answer = {}) : input_(answer) {
    out_ = open_memstream(&outBuffer_, &outSize_);
    err_ = open_memstream(&errBuffer_, &errSize_);
    in_ =
        input_.empty() ? std::fopen("/dev/null", "r") : fmemopen(input_.data(), input_.size(), "r");
    ui_ = std::make_unique<ConsoleFrontEnd>(out_, err_, in_);
  }
  ~Console() {
    std::fclose(out_);
    std::fclose(err_);
    std::fclose(in_);
    std::free(outBuffer_);
    std::free(errBuffer_);
  }
  ConsoleFrontEnd& ui() { return *ui_; }
  std::string out() {
    std::fflush(out_);
    return std::string(outBuffer_, outSize_);
  }
  std::string err() {
    std::fflush(err_);
    return std::string(errBuffer_, errSize_);
  }

 private:
  std::string input_;
  char* outBuffer_ = nullptr;
  size_t outSize_ = 0;
  char* errBuffer_ = nullptr;
  size_t errSize_ = 0;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  std::unique_ptr<ConsoleFrontEnd> ui_;
};

TEST(ConsoleFrontEnd, AlertIsTitleTextAndABlankLineWithoutWaiting) {
  Console console;
  console.ui().showAlert(QStringLiteral("Skin applied"),
                         QStringLiteral("Orvane is reopening with Aurora."));
  EXPECT_EQ(console.out(), "Skin applied\nOrvane is reopening with Aurora.\n\n");
}

TEST(ConsoleFrontEnd, ControlCharactersAreEscapedNeverRaw) {
  Console console;
  console.ui().showAlert(QStringLiteral("Bad\x1b[2Jtitle\nx"),
                         QStringLiteral("line1\nline2\r\x07\u202Eevil\u2028"));
  EXPECT_EQ(console.out(), "Bad\\x1b[2Jtitle\\x0ax\nline1\nline2\\x0d\\x07\\u202eevil\\u2028\n\n");
}

TEST(ConsoleFrontEnd, OnlyYesConfirms) {
  struct Case {
    std::string input;
    bool expected;
  } cases[] = {{"y\n", true}, {"YES\n", true}, {"Yes", true},    {" y \r\n", true}, {"n\n", false},
               {"\n", false}, {"", false},     {"yep\n", false}, {"no\ny\n", false}};
  for (const Case& c : cases) {
    Console console(c.input);
    EXPECT_EQ(console.ui().askToApply(QStringLiteral("Apply A to Orvane?"), QStringLiteral("t")),
              c.expected)
        << c.input;
    EXPECT_EQ(console.out(), "Apply A to Orvane?\nt\n\nApply skin? [y/N] ");
  }
}

TEST(ConsoleFrontEnd, NothingToDoSaysSoOnStandardErrorAndEndsWithTwo) {
  Console console;
  EXPECT_EQ(console.ui().nothingToDo(), 2);
  EXPECT_EQ(console.out(), "");
  const std::string err = console.err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
}

TEST(ConsoleFrontEnd, ProgressStaysOffAnythingButATerminal) {
  Console console;
  console.ui().downloadProgress(10, 100);
  console.ui().downloadFinished();
  EXPECT_EQ(console.err(), "");
}

TEST(ConsoleFrontEnd, PrintsACheckedRequestOneFieldALine) {
  Console console;
  console.ui().printRequest(
      {QStringLiteral("Aurora"), QUrl::fromLocalFile(QStringLiteral("/tmp/U/background.png")),
       QStringLiteral("#c5533a"), QStringLiteral("#e28a78"), QStringLiteral("#8a6cff")});
  EXPECT_EQ(console.out(),
            "name: Aurora\nimage: /tmp/U/background.png\naccent: #c5533a\nsecondary: "
            "#e28a78\nhighlight: #8a6cff\n");
}

}  // namespace
