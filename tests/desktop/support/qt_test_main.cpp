// main() of the desktop test programs: the XDG folders inside the test's home (hermetic_environment.cpp
// set HOME and TMPDIR), Qt's offscreen platform unless DISPLAY is meant, one QApplication for all cases.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>

int main(int argc, char* argv[]) {
    const QByteArray home = qgetenv("HOME");
    const QByteArray runtime = qgetenv("TMPDIR") + "/runtime";
    ::mkdir(runtime.constData(), 0700);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", runtime);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
