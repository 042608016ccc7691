#include "FullFolder.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QPoint>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using platform::UserDefaults;

TEST(UserDefaults, DataIsOnDiskWhenSetReturns)
{
    QTemporaryDir root;
    QString path = root.path() + "/defaults.ini";
    {
        UserDefaults defaults(path);
        EXPECT_FALSE(defaults.data("TDCategories"));
        QByteArray bytes("[{\"a\":1}]\n\0binary", 18);
        ASSERT_TRUE(defaults.setData("TDCategories", bytes));
        EXPECT_TRUE(QFile::exists(path));
        UserDefaults other(path);
        EXPECT_EQ(other.data("TDCategories"), bytes);
        ASSERT_TRUE(defaults.setInteger("NSTextKillRingSize", 7));
        EXPECT_EQ(other.integer("NSTextKillRingSize"), 7);
        ASSERT_TRUE(defaults.removeObject("TDCategories"));
        EXPECT_FALSE(UserDefaults(path).data("TDCategories"));
    }
}

TEST(UserDefaults, AFailedWriteIsReported)
{
    QTemporaryDir root;
    QFile blocker(root.path() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UserDefaults defaults(root.path() + "/file/defaults.ini");
    EXPECT_FALSE(defaults.setData("key", "value"));
}

TEST(UserDefaults, StandardFollowsTheEnvironment)
{
    QTemporaryDir root;
    platform::Environment::setRoots({ {}, {}, root.path() + "/s.ini", {} });
    ASSERT_TRUE(UserDefaults::standard().setData("k", "v"));
    EXPECT_EQ(UserDefaults(root.path() + "/s.ini").data("k"), QByteArray("v"));
    platform::Environment::resetRoots();
}

TEST(UserDefaults, AWriteThatMeetsAFullDiskFailsAndKeepsTheOldSettings)
{
    testsupport::FullFolder folder(2 * testsupport::FullFolder::pageBytes);
    const QString path = folder.path() + "/settings.ini";
    UserDefaults defaults(path);
    const QByteArray old(3000, 'o');
    ASSERT_TRUE(defaults.setData("TDCategories", old));
    ASSERT_TRUE(defaults.setInteger("NSTextKillRingSize", 4));

    auto saved = folder.limited([&] { return defaults.setData("TDCategories", QByteArray(12000, 'n')); });
    EXPECT_FALSE(saved);
    EXPECT_EQ(UserDefaults(path).data("TDCategories"), old);
    EXPECT_EQ(UserDefaults(path).integer("NSTextKillRingSize"), 4);
    EXPECT_EQ(
        QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), (QStringList { "filler", "settings.ini" }))
        << "no temporary file is left behind";
}

// Settings written by earlier versions (through QSettings) still read, entries of kinds this class
// does not write survive its writes, and what it writes reads back the same through QSettings.
TEST(UserDefaults, ReadsAndKeepsWhatQtWroteAndQtReadsWhatItWrites)
{
    QTemporaryDir root;
    const QString path = root.path() + "/settings.ini";
    QByteArray everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte.append(char(byte));
    everyByte += "0a\\x41;,=\"#[] ";
    {
        QSettings qt(path, QSettings::IniFormat);
        qt.setValue("TDCategories", everyByte);
        qt.setValue("NSTextKillRingSize", 9);
        qt.setValue("group/odd key%", QByteArray("in a section"));
        qt.setValue("list", QStringList { "a", "b" });
        qt.setValue("point", QPoint(3, 4));
    }
    UserDefaults defaults(path);
    EXPECT_EQ(defaults.data("TDCategories"), everyByte);
    EXPECT_EQ(defaults.integer("NSTextKillRingSize"), 9);
    EXPECT_EQ(defaults.data("group/odd key%"), QByteArray("in a section"));
    EXPECT_FALSE(defaults.data("list"));
    EXPECT_FALSE(defaults.integer("point"));

    const QByteArray text = "\"quoted\" caf\xc3\xa9 0x41\n";
    ASSERT_TRUE(defaults.setData("TDCategories", everyByte + everyByte));
    ASSERT_TRUE(defaults.setData("a/b c", text));
    ASSERT_TRUE(defaults.setInteger("NSTextKillRingSize", -12));
    ASSERT_TRUE(defaults.removeObject("group/odd key%"));
    QSettings qt(path, QSettings::IniFormat);
    EXPECT_EQ(qt.value("TDCategories").toByteArray(), everyByte + everyByte);
    EXPECT_EQ(qt.value("a/b c").toByteArray(), text);
    EXPECT_EQ(qt.value("NSTextKillRingSize").toInt(), -12);
    EXPECT_FALSE(qt.contains("group/odd key%"));
    EXPECT_EQ(qt.value("list").toStringList(), (QStringList { "a", "b" }));
    EXPECT_EQ(qt.value("point").toPoint(), QPoint(3, 4));
}

namespace {

constexpr int keysPerWriter = 25;

// Sets keys of its own, one write each; how many writes failed.
int writeKeys(const QString& path, const QString& writer)
{
    UserDefaults defaults(path);
    int failed = 0;
    for (int k = 0; k < keysPerWriter; ++k)
        failed += defaults.setInteger(writer + "-" + QString::number(k), k) ? 0 : 1;
    return failed;
}

// This test binary running `childTest` with the settings file `path`, once it has printed `ready`.
std::unique_ptr<QProcess> startedChild(const QString& path, const QString& childTest, const QByteArray& ready)
{
    auto child = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TINDREL_SETTINGS_CHILD_FILE", path);
    child->setProcessEnvironment(environment);
    child->start(QCoreApplication::applicationFilePath(),
        { "--gtest_also_run_disabled_tests", "--gtest_filter=UserDefaultsChild.DISABLED_" + childTest });
    QByteArray output;
    testsupport::waitUntil(
        [&] {
            output += child->readAllStandardOutput();
            return output.contains(ready) || child->state() == QProcess::NotRunning;
        },
        60000);
    EXPECT_TRUE(output.contains(ready)) << output.constData();
    return child;
}

void printAndFlush(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

} // namespace

// Run only as a child of the test below: sets keys of its own once told to.
TEST(UserDefaultsChild, DISABLED_SetsKeysWhenToldTo)
{
    printAndFlush("ready");
    std::string go;
    std::getline(std::cin, go);
    EXPECT_EQ(writeKeys(qEnvironmentVariable("TINDREL_SETTINGS_CHILD_FILE"), "child"), 0);
}

// Writers at one moment, threads of this program and another program, each read the file, change it
// and write it back: without a lock around the three, one writes back a file without another's change.
TEST(UserDefaults, WritersAtOnceKeepEveryKey)
{
    QTemporaryDir root;
    const QString path = root.path() + "/settings.ini";
    QStringList writers { "thread0", "thread1", "thread2" };
    std::unique_ptr<QProcess> child;
    if (testsupport::canStartChildProcesses) {
        child = startedChild(path, "SetsKeysWhenToldTo", "ready\n");
        child->write("go\n");
        ASSERT_TRUE(child->waitForBytesWritten());
        writers << "child";
    }
    std::latch start(3);
    std::atomic<int> failed { 0 };
    std::vector<std::thread> threads;
    for (int w = 0; w < 3; ++w) {
        threads.emplace_back([&, writer = writers[w]] {
            start.arrive_and_wait();
            failed += writeKeys(path, writer);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failed, 0);
    if (child) {
        ASSERT_TRUE(testsupport::waitUntil([&] { return child->state() == QProcess::NotRunning; }, 60000));
        EXPECT_EQ(child->exitCode(), 0) << child->readAllStandardOutput().constData();
    }
    for (const QString& writer : writers) {
        for (int k = 0; k < keysPerWriter; ++k)
            EXPECT_EQ(UserDefaults(path).integer(writer + "-" + QString::number(k)), k)
                << writer.toStdString() << k;
    }
    EXPECT_FALSE(QFile::exists(path + ".lock")) << "the lock is let go after each write";
}

// Run only as the child of the test below: takes the settings lock and holds it until killed.
TEST(UserDefaultsChild, DISABLED_HoldsTheLockUntilKilled)
{
    QLockFile lock(qEnvironmentVariable("TINDREL_SETTINGS_CHILD_FILE") + ".lock");
    ASSERT_TRUE(lock.tryLock(0));
    printAndFlush("locked");
    std::string never;
    std::getline(std::cin, never);
}

// A program that died holding the lock does not keep the settings from being written.
TEST(UserDefaults, ALockLeftByAProgramThatDiedIsTakenOver)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    QTemporaryDir root;
    const QString path = root.path() + "/settings.ini";
    auto holder = startedChild(path, "HoldsTheLockUntilKilled", "locked\n");
    holder->kill();
    ASSERT_TRUE(holder->waitForFinished());
    ASSERT_TRUE(QFile::exists(path + ".lock"));

    auto written = UserDefaults(path).setInteger("after", 5);
    ASSERT_TRUE(written) << written.error().description.toStdString();
    EXPECT_EQ(UserDefaults(path).integer("after"), 5);
}

// Comments written into the file by hand stay where they were when a write changes the file.
TEST(UserDefaults, AWriteKeepsTheCommentsOfAHandEditedFile)
{
    QTemporaryDir root;
    const QString path = root.path() + "/settings.ini";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("; kept by hand\n[General]\n# the ring\nNSTextKillRingSize=3\n\n[group]\n  ; odd\nkey=1\n");
    file.close();
    UserDefaults defaults(path);
    ASSERT_TRUE(defaults.setInteger("NSTextKillRingSize", 4));
    ASSERT_TRUE(defaults.removeObject("group/key"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        file.readAll(), "[General]\n; kept by hand\n# the ring\nNSTextKillRingSize=4\n\n[group]\n  ; odd\n");
}

// Blank lines written by hand stay where they were, between keys and between groups; ours between
// groups is never doubled, each write gives the same file (line ends too), and an emptied group goes
// with its own.
TEST(UserDefaults, AWriteKeepsTheBlankLinesOfAHandEditedFile)
{
    QTemporaryDir root;
    const QString path = root.path() + "/settings.ini";
    auto written = [&] {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(
        "[General]\n; by hand\r\r\nring=4\n\n\nTDCategories=x\n\n[group]\n\nkey=1\n  \n\n[other]\nk=2\n");
    out.close();
    UserDefaults defaults(path);
    for (int write = 0; write < 3; ++write) {
        ASSERT_TRUE(write == 0 ? defaults.setInteger("added", 5) : defaults.setInteger("ring", 4));
        EXPECT_EQ(written(),
            "[General]\n; by hand\nring=4\n\n\nTDCategories=x\nadded=5\n\n[group]\n\nkey=1\n  "
            "\n\n[other]\nk=2\n");
    }
    ASSERT_TRUE(defaults.removeObject("group/key") && defaults.removeObject("added"));
    EXPECT_EQ(written(), "[General]\n; by hand\nring=4\n\n\nTDCategories=x\n\n[other]\nk=2\n");
}

TEST(Bundle, FindsResourcesOnlyAsRegularFilesInTheResourceFolder)
{
    QTemporaryDir root;
    QFile icon(root.path() + "/FolderIcon.icns");
    ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
    icon.close();
    QDir(root.path()).mkdir("Folder.icns");
    platform::Environment::setRoots({ {}, {}, {}, root.path() });
    EXPECT_EQ(platform::Bundle::pathForResource("FolderIcon", "icns"), root.path() + "/FolderIcon.icns");
    EXPECT_FALSE(platform::Bundle::pathForResource("Missing", "icns"));
    EXPECT_FALSE(platform::Bundle::pathForResource("Folder", "icns"));
    EXPECT_FALSE(platform::Bundle::pathForResource("../x", "icns"));
    platform::Environment::resetRoots();
}

// An editor may save the file with a UTF-8 byte-order mark before its first line: the entry or
// group there reads as Qt reads it, and a write keeps the mark and every entry.
TEST(UserDefaults, AFileSavedWithAByteOrderMarkReadsAsQtReadsIt)
{
    QTemporaryDir root;
    const struct {
        QByteArray file;
        QString key;
    } cases[] = { { "\xEF\xBB\xBFTDCategories=@ByteArray([])\n", "TDCategories" },
        { "\xEF\xBB\xBF[group]\nTDCategories=@ByteArray([])\n", "group/TDCategories" } };
    for (const auto& each : cases) {
        const QString path = root.path() + "/settings.ini";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(each.file);
        file.close();
        UserDefaults defaults(path);
        EXPECT_EQ(defaults.data(each.key), QByteArray("[]")) << each.key.toStdString();
        ASSERT_TRUE(defaults.setInteger("added", 1));
        EXPECT_EQ(defaults.data(each.key), QByteArray("[]")) << each.key.toStdString();
        QSettings qt(path, QSettings::IniFormat);
        EXPECT_EQ(qt.value(each.key).toByteArray(), QByteArray("[]")) << each.key.toStdString();
        EXPECT_EQ(qt.allKeys().size(), 2) << each.key.toStdString();
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().startsWith("\xEF\xBB\xBF[General]\n")) << each.key.toStdString();
        file.close();
    }
}
