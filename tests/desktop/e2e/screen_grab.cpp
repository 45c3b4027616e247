// Test tool: saves a screenshot of the X display once something is drawn on it (the open tray menu),
// waiting at most 30 s. Usage: screen_grab <file.png>. Exit status 0 when saved.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {

// Whether at least `enough` pixels differ from the top-left one (the bare background).
bool showsSomething(const QImage& image, int enough) {
    const QRgb background = image.pixel(0, 0);
    int different = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            different += image.pixel(x, y) != background ? 1 : 0;
            if (different >= enough) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc != 2 || QGuiApplication::primaryScreen() == nullptr) {
        std::fprintf(stderr, "usage: screen_grab <file.png> (with a display)\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        if (showsSomething(image, 500)) {
            QCoreApplication::exit(image.save(file) ? 0 : 1);
        } else if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "screen_grab: nothing was drawn\n");
            QCoreApplication::exit(1);
        }
    });
    poll.start(std::chrono::milliseconds(100));
    return QCoreApplication::exec();
}
