#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test binary runs headless and with a home folder of its own, so no test can read or write
// the real user's Documents, caches or settings, and leaves nothing behind in the temporary folder.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
#ifdef TINDREL_TEST_SCREENS
        // A suite that moves windows between screens describes them in a file of its own.
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" TINDREL_TEST_SCREENS);
#else
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    }

    QTemporaryDir home(QDir::tempPath() + "/tindrel-test-home-XXXXXX");
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toUtf8());
    // Temporary folders too, so that whatever a test leaves there (a cache's write that lands after
    // its folder was removed) goes with the home folder.
    QDir(home.path()).mkdir("tmp");
    qputenv("TMPDIR", (home.path() + "/tmp").toUtf8());
    for (const char* name :
        { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DOCUMENTS_DIR" })
        qunsetenv(name);
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        QDir(home.path()).mkdir("runtime");
        qputenv("XDG_RUNTIME_DIR", (home.path() + "/runtime").toUtf8());
        QFile::setPermissions(
            home.path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("TindrelTests");
    QCoreApplication::setApplicationName("TindrelTests");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
