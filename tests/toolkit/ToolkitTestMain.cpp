// Runs the toolkit tests inside a QApplication on the offscreen platform, with a private
// runtime directory so nothing leaks into the user's session.
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir runtimeDir(QDir::tempPath() + QStringLiteral("/gs-toolkit-test-XXXXXX"));
    if (runtimeDir.isValid()) {
        std::filesystem::permissions(runtimeDir.path().toStdString(),
                                     std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        setenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit().constData(), 1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
