#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationDisplayName(QString::fromUtf8("KELV каталог"));
  QMainWindow w;
  w.resize(800, 600);
  w.show();
  return app.exec();
}
