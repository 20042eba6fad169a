// Runs the window-level tests inside a QApplication on the offscreen platform, with private
// runtime, configuration and data folders so nothing reaches the user's session or desktop.
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void usePrivateFolder(const QTemporaryDir& folder, const char* variable) {
    if (!folder.isValid()) {
        return;
    }
    std::filesystem::permissions(folder.path().toStdString(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv(variable, folder.path().toLocal8Bit().constData(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    const QString pattern = QDir::tempPath() + QStringLiteral("/gs-window-test-XXXXXX");
    QTemporaryDir runtimeDir(pattern);
    QTemporaryDir configDir(pattern);
    QTemporaryDir dataDir(pattern);
    usePrivateFolder(runtimeDir, "XDG_RUNTIME_DIR");
    usePrivateFolder(configDir, "XDG_CONFIG_HOME");
    usePrivateFolder(dataDir, "XDG_DATA_HOME");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
