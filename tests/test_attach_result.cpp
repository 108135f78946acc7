#include "main/attach_result.h"
#include "sandbox.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>

using namespace tarnwell;
using Outcome = AttachResult::Outcome;

namespace {

std::string toBinary(const std::string& xml) {
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  char* data = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &data, &length);
  std::string binary(data, length);
  free(data);
  plist_free(root);
  return binary;
}

std::string wrap(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>";
}

}  // namespace

TEST(AttachResult, FirstNonEmptyMountPointWins) {
  auto result = readAttachResult(test::entitiesPlist({"-", "", "/Volumes/One", "/Volumes/Two"}));
  EXPECT_EQ(result.outcome, Outcome::Found);
  EXPECT_EQ(result.entityCount, 4u);
  EXPECT_EQ(result.mountPoint, "/Volumes/One");
  EXPECT_EQ(result.mountPointsSeen, (std::vector<std::string>{"", "/Volumes/One"}));
}

TEST(AttachResult, BinaryListsReadTheSame) {
  auto result = readAttachResult(toBinary(test::entitiesPlist({"-", "/Volumes/Bin ary"})));
  EXPECT_EQ(result.outcome, Outcome::Found);
  EXPECT_EQ(result.mountPoint, "/Volumes/Bin ary");
}

TEST(AttachResult, NoMountPoint) {
  auto none = readAttachResult(test::entitiesPlist({"-", "-"}));
  EXPECT_EQ(none.outcome, Outcome::NoMountPoint);
  EXPECT_TRUE(none.mountPointsSeen.empty());
  auto empty = readAttachResult(test::entitiesPlist({"", "-", ""}));
  EXPECT_EQ(empty.outcome, Outcome::NoMountPoint);
  EXPECT_EQ(empty.mountPointsSeen.size(), 2u);
  auto wrongType = readAttachResult(wrap("<dict><key>system-entities</key><array><dict><key>mount-point</key>"
                                         "<integer>3</integer></dict></array></dict>"));
  EXPECT_EQ(wrongType.outcome, Outcome::NoMountPoint);
  EXPECT_TRUE(wrongType.mountPointsSeen.empty());
}

TEST(AttachResult, MountPointWithANulByteIsNoPath) {
  auto result = readAttachResult(test::readFileText(std::string(TARNWELL_FUZZ_CORPUS) + "/nul_in_string.xml"));
  EXPECT_EQ(result.outcome, Outcome::NoMountPoint);
  EXPECT_TRUE(result.mountPointsSeen.empty());
}

TEST(AttachResult, ShapesThatHoldNoRows) {
  for (const std::string& body : {
           std::string("<array><string>x</string></array>"),
           std::string("<dict><key>other</key><string>x</string></dict>"),
           std::string("<dict><key>system-entities</key><dict/></dict>"),
           std::string("<dict><key>system-entities</key><array/></dict>"),
           std::string("<dict><key>system-entities</key><array><dict/><string>x</string></array></dict>"),
           std::string("<string>just text</string>"),
       }) {
    EXPECT_EQ(readAttachResult(wrap(body)).outcome, Outcome::NoRows) << body;
  }
}

TEST(AttachResult, NotAPropertyList) {
  for (const std::string& bytes : {std::string(), std::string("hdiutil: attach failed"),
                                   std::string("<plist><dict><key>unclosed"), std::string("bplist00garbage")}) {
    auto result = readAttachResult(bytes);
    EXPECT_EQ(result.outcome, Outcome::NotAPropertyList) << bytes;
    EXPECT_FALSE(result.error.empty());
  }
}

TEST(AttachResult, WarningsAroundTheListAreSkipped) {
  std::string list = test::entitiesPlist({"/Volumes/Warned"});
  auto result = readAttachResult("hdiutil: warning: this image is old\n" + list + "trailing note\n");
  EXPECT_EQ(result.outcome, Outcome::Found);
  EXPECT_EQ(result.mountPoint, "/Volumes/Warned");
}
