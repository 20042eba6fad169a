// Runs the editing tests inside a QApplication on the offscreen platform. The main window they
// build registers the file type, reads the preference and binds an instance socket: every one
// of those lands in private temporary folders, never in the user's session.
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void UsePrivateFolder(const char* variable, const QTemporaryDir& root, const char* name) {
    const std::filesystem::path folder = std::filesystem::path(root.path().toStdString()) / name;
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv(variable, folder.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/gs-editing-test-XXXXXX"));
    if (!root.isValid()) {
        return 2;
    }
    UsePrivateFolder("XDG_RUNTIME_DIR", root, "runtime");
    UsePrivateFolder("XDG_CONFIG_HOME", root, "config");
    UsePrivateFolder("XDG_DATA_HOME", root, "data");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
