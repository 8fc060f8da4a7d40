// A small window for demonstrations: takes the focus when clicked, shows
// what is typed into it and writes each key it receives to stdout.
#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>

#include <cstdio>

namespace {

class Target : public QPlainTextEdit {
 protected:
  void mousePressEvent(QMouseEvent* e) override {
    // With no window manager nobody else hands out the focus.
    activateWindow();
    setFocus();
    QPlainTextEdit::mousePressEvent(e);
  }
  void keyPressEvent(QKeyEvent* e) override {
    std::printf("key %s\n",
                qPrintable(e->text().isEmpty() ? QString::number(e->key()) : e->text()));
    std::fflush(stdout);
    QPlainTextEdit::keyPressEvent(e);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Target target;
  target.setWindowTitle(QStringLiteral("Vesk demo target"));
  target.setPlaceholderText(QStringLiteral("Vesk types here"));
  target.setGeometry(620, 100, 380, 240);
  target.show();
  return QApplication::exec();
}
