// Tarvelle: finds visually similar and duplicate images.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label("Tarvelle");
  label.show();
  return app.exec();
}
