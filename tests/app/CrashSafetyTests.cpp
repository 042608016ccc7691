#include "LibraryTestSupport.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/Print.h"

#include <QProcess>

using apptest::LibraryRoot;
using apptest::makeProject;

namespace {

constexpr const char* childLibraryVariable = "TINDREL_CRASH_CHILD_DOCUMENTS";
constexpr int firstListSize = 1500;
constexpr int secondListSize = 1600;

TDProjectStore::ProjectList bigList(const QString& prefix, int count)
{
    TDProjectStore::ProjectList projects;
    for (int i = 0; i < count; ++i)
        projects.push_back(makeProject(prefix + QString::number(i), 10));
    return projects;
}

} // namespace

// Run only as the child of the test below: saves two large lists in turn, back to back, reporting
// each finished save, until it is killed.
TEST(CrashSafetyChild, DISABLED_SavesUntilKilled)
{
    QString documents = qEnvironmentVariable(childLibraryVariable);
    ASSERT_FALSE(documents.isEmpty());
    platform::Environment::setRoots({ documents, {}, {}, {} });
    TDProjectStore store;
    auto first = bigList("A", firstListSize);
    auto second = bigList("B", secondListSize);
    int finished = 0;
    for (int round = 0; round < 200; ++round) {
        store.save(round % 2 ? second : first, [&](auto result) {
            if (result)
                platform::print(QStringLiteral("saved %1").arg(++finished));
        });
        testsupport::waitUntil([&] { return finished >= round - 1; }, 60000);
    }
}

TEST(CrashSafety, AKilledSaveLeavesTheOldOrTheNewFileNeverATornOne)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    LibraryRoot root;
    root.makeLibraryFolder();
    QByteArray old = tdlibrary::encodeProjects(bigList("Old", 5)).value();
    root.write("projects.library", old);

    for (int killAfter : { 0, 1, 2, 3, 5 }) {
        SCOPED_TRACE(killAfter);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(childLibraryVariable, root.documents());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(),
            { "--gtest_also_run_disabled_tests",
                "--gtest_filter=CrashSafetyChild.DISABLED_SavesUntilKilled" });
        ASSERT_TRUE(child.waitForStarted());
        QByteArray output;
        QByteArray wanted
            = killAfter == 0 ? QByteArray("[ RUN") : "saved " + QByteArray::number(killAfter) + "\n";
        ASSERT_TRUE(testsupport::waitUntil(
            [&] {
                output += child.readAllStandardOutput();
                return output.contains(wanted) || child.state() == QProcess::NotRunning;
            },
            120000));
        ASSERT_EQ(child.state(), QProcess::Running) << output.constData();
        child.kill();
        ASSERT_TRUE(child.waitForFinished());

        auto projects = tdlibrary::decodeProjects(root.read("projects.library"));
        ASSERT_TRUE(projects) << "the file is whole: " << projects.error().description.toStdString();
        std::size_t size = projects.value().size();
        EXPECT_TRUE(size == 5 || size == firstListSize || size == secondListSize) << size;
        QString prefix = projects.value().front()->name().left(1);
        for (const auto& project : projects.value())
            ASSERT_TRUE(project->name().startsWith(prefix));
    }
}
