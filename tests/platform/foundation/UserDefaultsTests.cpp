#include "platform/foundation/Bundle.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
