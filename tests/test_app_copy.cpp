#include "install/app_copy.h"
#include "main/base_path.h"
#include "platform/files.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwell;
namespace fs = std::filesystem;

namespace {

class AppCopy : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(dir / "Volume/New.app/Contents");
    test::writeFileText(dir / "Volume/New.app/Contents/version", "new");
    fs::create_directories(dir / "Applications");
  }
  void installOld() {
    fs::create_directories(dir / "Applications/New.app/Contents");
    test::writeFileText(dir / "Applications/New.app/Contents/version", "old");
  }
  std::vector<std::string> applications() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "Applications")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  bool copy(std::vector<std::string>& log) {
    testing::internal::CaptureStderr();
    bool copied = copyApp(at("Volume/New.app"), at("Applications/New.app"));
    log = test::logEntries(testing::internal::GetCapturedStderr());
    return copied;
  }
};

}  // namespace

TEST_F(AppCopy, ReplacesAnInstalledBundleWithoutLitter) {
  installOld();
  std::vector<std::string> log;
  EXPECT_TRUE(copy(log));
  EXPECT_EQ(log, (std::vector<std::string>{"App already exist , hence replacing", "App Copied successfully"}));
  EXPECT_EQ(test::readFileText(dir / "Applications/New.app/Contents/version"), "new");
  EXPECT_EQ(applications(), (std::vector<std::string>{"New.app"}));
}

TEST_F(AppCopy, FailedCopyKeepsTheInstalledBundle) {
  installOld();
  ASSERT_EQ(mkfifo(at("Volume/New.app/Contents/fifo").c_str(), 0644), 0);  // nothing a bundle copy can take
  std::vector<std::string> log;
  EXPECT_FALSE(copy(log));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "App already exist , hence replacing");
  EXPECT_EQ(log[1].rfind("App Copied Failed!!!!!!!!!!! ", 0), 0u) << log[1];
  EXPECT_NE(log[1].find("fifo"), std::string::npos) << log[1];
  EXPECT_EQ(test::readFileText(dir / "Applications/New.app/Contents/version"), "old");
  EXPECT_EQ(applications(), (std::vector<std::string>{"New.app"}));
}

TEST_F(AppCopy, DestinationLinkIsReplacedAndItsTargetUntouched) {
  fs::create_directories(dir / "Elsewhere/Contents");
  test::writeFileText(dir / "Elsewhere/Contents/version", "elsewhere");
  fs::create_directory_symlink(dir / "Elsewhere", dir / "Applications/New.app");
  std::vector<std::string> log;
  EXPECT_TRUE(copy(log));
  EXPECT_EQ(log.front(), "App already exist , hence replacing");
  EXPECT_FALSE(fs::is_symlink(dir / "Applications/New.app"));
  EXPECT_EQ(test::readFileText(dir / "Applications/New.app/Contents/version"), "new");
  EXPECT_EQ(test::readFileText(dir / "Elsewhere/Contents/version"), "elsewhere");
}

TEST_F(AppCopy, UnhideClearsTheMarkAndSaysSoOnce) {
  fs::create_directories(dir / "Applications/Hidden.app");
  ASSERT_EQ(setHidden(at("Applications/Hidden.app")), std::nullopt);
  testing::internal::CaptureStderr();
  checkAndUnhideApp(at("Applications/Hidden.app"));
  checkAndUnhideApp(at("Applications/Hidden.app"));
  auto log = test::logEntries(testing::internal::GetCapturedStderr());
  EXPECT_EQ(log, (std::vector<std::string>{"App is hidden, Hence Unhid app"}));
  std::string failure;
  EXPECT_EQ(isHidden(at("Applications/Hidden.app"), failure), false);
}

TEST_F(AppCopy, UnreadableMarkEndsTheRunAfterDeletingTheResultFile) {
  setBasePath(dir.string());
  test::writeFileText(dir / "qxmount.plist", "<plist/>");
  EXPECT_EXIT(checkAndUnhideApp(at("Applications/Missing.app")), testing::ExitedWithCode(1),
              "checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! Could not read the hidden mark of");
  EXPECT_FALSE(fs::exists(dir / "qxmount.plist"));
}
