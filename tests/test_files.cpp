#include "platform/files.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnwell;
namespace fs = std::filesystem;

namespace {

void setTimes(const std::string& path, time_t seconds, long nanos) {
  struct timespec times[2] = {{seconds, nanos}, {seconds, nanos}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

struct stat statOf(const std::string& path) {
  struct stat info{};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

std::string attribute(const std::string& path, const char* name) {
  char value[256];
  ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
  return n < 0 ? "<none>" : std::string(value, static_cast<size_t>(n));
}

// A framework-shaped bundle: versioned directories joined by links.
void makeBundle(const std::string& root) {
  fs::create_directories(root + "/Contents/MacOS");
  fs::create_directories(root + "/Contents/Frameworks/Kit.framework/Versions/A");
  test::writeFileText(root + "/Contents/MacOS/App", std::string(3 << 20, 'x'));
  chmod((root + "/Contents/MacOS/App").c_str(), 04755);
  test::writeFileText(root + "/Contents/Info.plist", "<plist/>");
  chmod((root + "/Contents/Info.plist").c_str(), 0640);
  test::writeFileText(root + "/Contents/Frameworks/Kit.framework/Versions/A/Kit", "kit");
  symlink("A", (root + "/Contents/Frameworks/Kit.framework/Versions/Current").c_str());
  symlink("Versions/Current/Kit", (root + "/Contents/Frameworks/Kit.framework/Kit").c_str());
  symlink("/nonexistent/target", (root + "/Contents/dangling").c_str());
  setxattr((root + "/Contents/Info.plist").c_str(), "user.note", "kept", 4, 0);
  setxattr(root.c_str(), "user.hidden", "1", 1, 0);
  chmod((root + "/Contents/Frameworks").c_str(), 0750);
  chown((root + "/Contents/Info.plist").c_str(), 1234, 5678);
  for (const char* path : {"/Contents/MacOS/App", "/Contents/Info.plist", "/Contents/dangling",
                           "/Contents/Frameworks/Kit.framework/Versions/Current", "/Contents/MacOS",
                           "/Contents/Frameworks", "/Contents", ""}) {
    setTimes(root + path, 1500000000, 123456789);
  }
}

}  // namespace

using Files = test::ScratchTest;

TEST_F(Files, CopyTreeIsFaithful) {
  makeBundle(at("src.app"));
  ASSERT_EQ(copyTree(at("src.app"), at("dst.app")), std::nullopt);
  for (const char* path : {"", "/Contents", "/Contents/MacOS", "/Contents/MacOS/App", "/Contents/Info.plist",
                           "/Contents/Frameworks", "/Contents/dangling",
                           "/Contents/Frameworks/Kit.framework/Versions/Current",
                           "/Contents/Frameworks/Kit.framework/Kit"}) {
    struct stat from = statOf(at("src.app") + path), to = statOf(at("dst.app") + path);
    EXPECT_EQ(from.st_mode, to.st_mode) << path;
    EXPECT_EQ(from.st_uid, to.st_uid) << path;
    EXPECT_EQ(from.st_gid, to.st_gid) << path;
    EXPECT_EQ(from.st_size, to.st_size) << path;
    EXPECT_EQ(from.st_mtim.tv_sec, to.st_mtim.tv_sec) << path;
    EXPECT_EQ(from.st_mtim.tv_nsec, to.st_mtim.tv_nsec) << path;
  }
  EXPECT_TRUE(fs::is_symlink(at("dst.app/Contents/Frameworks/Kit.framework/Versions/Current")));
  EXPECT_EQ(fs::read_symlink(at("dst.app/Contents/Frameworks/Kit.framework/Kit")), "Versions/Current/Kit");
  EXPECT_EQ(fs::read_symlink(at("dst.app/Contents/dangling")), "/nonexistent/target");
  EXPECT_EQ(test::readFileText(at("dst.app/Contents/Frameworks/Kit.framework/Kit")), "kit");
  EXPECT_EQ(test::readFileText(at("dst.app/Contents/MacOS/App")), test::readFileText(at("src.app/Contents/MacOS/App")));
  EXPECT_EQ(attribute(at("dst.app/Contents/Info.plist"), "user.note"), "kept");
  EXPECT_EQ(attribute(at("dst.app"), "user.hidden"), "1");
}

TEST_F(Files, CopyTreeRefusesAnExistingDestinationAndOddFiles) {
  makeBundle(at("src.app"));
  fs::create_directories(at("dst.app"));
  auto failure = copyTree(at("src.app"), at("dst.app"));
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find(at("dst.app")), std::string::npos) << *failure;

  ASSERT_EQ(mkfifo(at("src.app/Contents/pipe").c_str(), 0644), 0);
  failure = copyTree(at("src.app"), at("other.app"));
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find("pipe"), std::string::npos) << *failure;
}

TEST_F(Files, HiddenMark) {
  fs::create_directories(at("b.app"));
  std::string failure;
  EXPECT_EQ(isHidden(at("b.app"), failure), false);
  EXPECT_EQ(setHidden(at("b.app")), std::nullopt);
  EXPECT_EQ(isHidden(at("b.app"), failure), true);
  EXPECT_EQ(clearHidden(at("b.app")), std::nullopt);
  EXPECT_EQ(isHidden(at("b.app"), failure), false);
  EXPECT_EQ(clearHidden(at("b.app")), std::nullopt) << "clearing an unmarked bundle is no failure";
  setxattr(at("b.app").c_str(), "user.hidden", "0", 1, 0);
  EXPECT_EQ(isHidden(at("b.app"), failure), false);

  EXPECT_EQ(isHidden(at("missing.app"), failure), std::nullopt);
  EXPECT_NE(failure.find("missing.app"), std::string::npos);
  EXPECT_TRUE(clearHidden(at("missing.app")).has_value());
}

TEST_F(Files, LinksAndRemoval) {
  test::writeFileText(at("f"), "content");
  symlink("nowhere", at("dangling").c_str());
  EXPECT_FALSE(fileExists(at("dangling")));
  EXPECT_TRUE(entryExists(at("dangling")));
  EXPECT_TRUE(isSymbolicLink(at("dangling")));

  fs::create_directories(at("d/e"));
  EXPECT_TRUE(removeFile(at("d")).has_value()) << "a directory is not removed as a file";
  EXPECT_EQ(removeFile(at("f")), std::nullopt);
  auto again = removeFile(at("f"));
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*again, "Could not remove \"" + at("f") + "\": No such file or directory");
  EXPECT_EQ(removeTree(at("d")), std::nullopt);
  EXPECT_FALSE(fs::exists(at("d")));
}
