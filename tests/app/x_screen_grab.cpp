// Saves what the X screen named by $DISPLAY shows as a PNG file: `x_screen_grab <file.png>`.
// Started by the tests on the xcb platform; exits with 0 once the picture is written.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (arguments.size() != 2) {
        err << "usage: x_screen_grab <file.png>\n";
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        err << "no screen\n";
        return 1;
    }
    // Window 0 is the root window: the whole screen, with every window on it.
    const QPixmap picture = screen->grabWindow(0);
    if (picture.isNull() || !picture.save(arguments.at(1), "PNG")) {
        err << "cannot save the screen as " << arguments.at(1) << '\n';
        return 1;
    }
    return 0;
}
