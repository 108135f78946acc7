#include "install/install_items.h"
#include "main/base_path.h"

#include <gtest/gtest.h>

using namespace tarnwell;

TEST(BasePath, TwoLevelsAboveTheExecutablesDirectory) {
  EXPECT_EQ(basePathForExecutable("/A/B/C/tarnwell"), "/A");
  EXPECT_EQ(basePathForExecutable("/Library/Tarnwell/Tools/bin/tarnwell"), "/Library/Tarnwell");
  EXPECT_EQ(basePathForExecutable("/B/C/tarnwell"), "/");
  EXPECT_EQ(basePathForExecutable("/tarnwell"), "/");
}

TEST(BasePath, AppendingStaysInsideTheDirectory) {
  EXPECT_EQ(appendPathComponent("/A", "qxmount.plist"), "/A/qxmount.plist");
  EXPECT_EQ(appendPathComponent("/", "qxmount.plist"), "/qxmount.plist");
  EXPECT_EQ(appendPathComponent("/A", "/etc/x.dmg"), "/A/etc/x.dmg");
  EXPECT_EQ(appendPathComponent("/A", "Sample Disk.dmg"), "/A/Sample Disk.dmg");
  setBasePath("/Base");
  EXPECT_EQ(resultFilePath(), "/Base/qxmount.plist");
}

TEST(ItemNames, ParentComponentsClimbOut) {
  for (const char* name : {"..", "../x.app", "a/../../x.app", "a/..", "x.app/../../etc"}) EXPECT_TRUE(climbsOut(name)) << name;
  for (const char* name : {"x.app", "..x.app", "x..app", "a/b.app", "...", "a/.../b.pkg", ""}) EXPECT_FALSE(climbsOut(name)) << name;
}
