#include "EDTextView/YankingManager.h"
#include "platform/foundation/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using Action = YankingManager::DeleteAction;

TEST(YankingManager, KillsOfOneKindGrowOneEntryInTheirDirection)
{
    YankingManager ring(3);
    ring.append("one", Action::deleteWordForward);
    ring.append("two", Action::deleteWordForward);
    EXPECT_EQ(ring.entries().front(), "onetwo");
    ring.append("b", Action::deleteWordBackward);
    ring.append("a", Action::deleteWordBackward);
    EXPECT_EQ(ring.entries().front(), "ab");
    ring.append("x", Action::delete_);
    ring.append("y", Action::delete_);
    EXPECT_EQ(ring.entries().front(), "y");
    ring.lastDeleteAction.reset(); // an edit or a selection change in between
    ring.append("z", Action::delete_);
    ASSERT_EQ(ring.entries().size(), 3u); // the oldest went
    EXPECT_EQ(ring.entries()[1], "y");
}

TEST(YankingManager, RingSizeComesFromTheDefaultsAndIsAtLeastOne)
{
    QTemporaryDir folder;
    platform::UserDefaults defaults(folder.filePath("defaults.ini"));
    EXPECT_EQ(YankingManager::ringSize(defaults), 1);
    ASSERT_TRUE(defaults.setInteger(YankingManager::killRingSizeDefaultsKey, 0).isSuccess());
    EXPECT_EQ(YankingManager::ringSize(defaults), 1);
    ASSERT_TRUE(defaults.setInteger(YankingManager::killRingSizeDefaultsKey, 7).isSuccess());
    EXPECT_EQ(YankingManager::ringSize(defaults), 7);
}
