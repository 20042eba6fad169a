// Runs the decoration tests inside a QApplication on the offscreen platform, with the user's
// folders replaced by temporary ones (mode 0700) so that nothing of the real session is read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    const std::string root = home.path().toStdString();
    for (const char* sub : {"/runtime", "/config", "/data", "/data-dirs", "/config-dirs"}) {
        ::mkdir((root + sub).c_str(), 0700);
    }
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root + "/data-dirs").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (root + "/config-dirs").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
