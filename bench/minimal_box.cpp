// The baseline for the confirmation-window benchmark: the least a Qt program
// does to show the same question, a stock QMessageBox with the standard
// question icon, the same texts and the same two buttons.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMessageBox box(QMessageBox::Question, QStringLiteral("Velmora Helper"),
                  QStringLiteral("Apply Bench to Orvane?"));
  box.setInformativeText(QStringLiteral(
      "Velmora Helper will use the local open-source engine and may restart Orvane."));
  box.setDefaultButton(box.addButton(QStringLiteral("Apply skin"), QMessageBox::AcceptRole));
  box.setEscapeButton(box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole));
  return box.exec();
}
