#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    QApplication::setApplicationDisplayName(QStringLiteral("Varnholt Quelmark"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Varnholt Quelmark"));
    window.show();
    return app.exec();
}
