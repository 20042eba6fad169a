// GUI tests run offscreen, with the user's folders replaced by temporary ones so nothing
// lands in the real home.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home;
    const std::string root = home.path().toStdString();
    for (const char* sub : {"/runtime", "/config", "/data"}) {
        ::mkdir((root + sub).c_str(), 0700);
    }
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
