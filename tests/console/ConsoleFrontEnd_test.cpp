#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include "console/ConsoleFrontEnd.h"

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

TEST(ConsoleFrontEnd, AlertIsTitleTextAndABlankLineWithoutWaitingProblemsOnStandardError) {
  Console console;
  console.ui().showAlert(AlertKind::notice, QStringLiteral("Skin applied"),
                         QStringLiteral("Orvane is reopening with Aurora."));
  console.ui().showAlert(AlertKind::problem, QStringLiteral("Could not apply skin"),
                         QStringLiteral("Velmora engine is missing."));
  EXPECT_EQ(console.out(), "Skin applied\nOrvane is reopening with Aurora.\n\n");
  EXPECT_EQ(console.err(), "Could not apply skin\nVelmora engine is missing.\n\n");
}

TEST(ConsoleFrontEnd, ControlCharactersAreEscapedNeverRaw) {
  Console console;
  console.ui().showAlert(AlertKind::notice, QStringLiteral("Bad\x1b[2Jtitle\nx"),
                         QStringLiteral("line1\nline2\r\x07\u202Eevil\u2028"));
  EXPECT_EQ(console.out(), "Bad\\x1b[2Jtitle\\x0ax\nline1\nline2\\x0d\\x07\\u202eevil\\u2028\n\n");
  console.ui().askToApply(
      QStringLiteral("Apply A to Orvane?"), QStringLiteral("t"),
      {QStringLiteral("A\u202Eesrever\n.velmora"), "#000000", "#ffffff", "#123456", {}});
  EXPECT_NE(console.out().find("From: A\\u202eesrever\\x0a.velmora\n"), std::string::npos);
}

TEST(ConsoleFrontEnd, OnlyYesConfirms) {
  struct Case {
    std::string input;
    bool expected;
  } cases[] = {{"y\n", true}, {"YES\n", true}, {"Yes", true},    {" y \r\n", true}, {"n\n", false},
               {"\n", false}, {"", false},     {"yep\n", false}, {"no\ny\n", false}};
  for (const Case& c : cases) {
    Console console(c.input);
    EXPECT_EQ(console.ui().askToApply(
                  QStringLiteral("Apply A to Orvane?"), QStringLiteral("t"),
                  {QStringLiteral("velmora.app"), "#aabbcc", "#e28a78", "#8a6cff", {}}),
              c.expected)
        << c.input;
    EXPECT_EQ(console.out(),
              "Apply A to Orvane?\nt\n\nFrom: velmora.app\n"
              "Colors: accent #aabbcc, secondary #e28a78, highlight #8a6cff\nApply skin? [y/N] ");
    EXPECT_EQ(console.err(), "");
  }
}

// The answer read from a real descriptor, as standard input is: a file of
// `input`, with `cancelled` a pipe that has something to read.
struct FileAnswer {
  bool confirmed;
  off_t bytesRead;
};

FileAnswer answerFromFile(const std::string& input, bool cancelled = false) {
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  int cancel[2];
  EXPECT_EQ(::pipe(cancel), 0);
  if (cancelled) {
    EXPECT_EQ(::write(cancel[1], "x", 1), 1);
  }
  FILE* out = std::fopen("/dev/null", "w");
  ConsoleFrontEnd ui(out, out, in);
  ui.cancelAnswerOnceReadable(cancel[0]);
  const bool confirmed =
      ui.askToApply(QStringLiteral("Apply A to Orvane?"), QStringLiteral("t"),
                    {QStringLiteral("velmora.app"), "#aabbcc", "#e28a78", "#8a6cff", {}});
  const off_t bytesRead = ::lseek(fileno(in), 0, SEEK_CUR);
  std::fclose(in);
  std::fclose(out);
  ::close(cancel[0]);
  ::close(cancel[1]);
  return {confirmed, bytesRead};
}

TEST(ConsoleFrontEnd, ReadsOneBoundedLineAndGivesUpWhenCancelled) {
  const std::string padding(4095, ' ');
  struct Case {
    const char* what;
    std::string input;
    bool cancelled;
    bool confirmed;
    off_t bytesRead;
  } cases[] = {
      {"the line and nothing after it", "yes\nno\n", false, true, 4},
      {"a line of the longest length", "y" + padding + "\n", false, true, 4097},
      {"a byte longer", "y " + padding + "\n", false, false, 4097},
      {"a megabyte without a line feed", std::string(1 << 20, 'y'), false, false, 4097},
      {"cancelled with an answer waiting", "y\n", true, false, 0},
  };
  for (const Case& c : cases) {
    const FileAnswer answer = answerFromFile(c.input, c.cancelled);
    EXPECT_EQ(answer.confirmed, c.confirmed) << c.what;
    EXPECT_EQ(answer.bytesRead, c.bytesRead) << c.what;
  }
  // Endless input ends too.
  FILE* zeros = std::fopen("/dev/zero", "r");
  FILE* out = std::fopen("/dev/null", "w");
  EXPECT_FALSE(
      ConsoleFrontEnd(out, out, zeros)
          .askToApply(QStringLiteral("Apply A to Orvane?"), QStringLiteral("t"),
                      {QStringLiteral("velmora.app"), "#aabbcc", "#e28a78", "#8a6cff", {}}));
  std::fclose(zeros);
  std::fclose(out);
}

TEST(ConsoleFrontEnd, AUsageProblemIsOneLineOnStandardError) {
  Console console;
  console.ui().showAlert(AlertKind::usage, {}, QStringLiteral("nothing to do\x1b[2J"));
  EXPECT_EQ(console.out(), "");
  EXPECT_EQ(console.err(), "velmora-helper: nothing to do\\x1b[2J\n");
}

TEST(ConsoleFrontEnd, ProgressStaysOffAnythingButATerminal) {
  Console console;
  console.ui().downloadProgress(10, 100);
  console.ui().applyEnded();
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
