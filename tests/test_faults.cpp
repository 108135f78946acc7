// Whole runs under faults: each ends with the right status and a clear log
// line, and nothing installed before is lost.

#include "sandbox.h"

#include <gtest/gtest.h>

#include <chrono>

#include <sys/xattr.h>

using namespace tarnwell::test;

namespace {


fs::path appImage(Sandbox& sandbox, size_t executableBytes = 16) {
  fs::path image = sandbox.image("Sample.dmg");
  fs::create_directories(image / "Foo.app/Contents/MacOS");
  writeFileText(image / "Foo.app/Contents/MacOS/Foo", std::string(executableBytes, 'n'));
  writeFileText(image / "Bar.pkg", "xar!");
  return image;
}

const char* kOldApp = "mkdir -p /Applications/Foo.app/Contents && echo old > /Applications/Foo.app/Contents/version";

void expectOldAppAlone(const Sandbox& sandbox) {
  EXPECT_EQ(readFileText(sandbox.after("Applications/Foo.app/Contents/version")), "old\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(sandbox.after("Applications"))) names.push_back(entry.path().filename());
  EXPECT_EQ(names, (std::vector<std::string>{"Foo.app"}));
}

}  // namespace

// The one road that ends inside the item loop: the result file goes, the
// volume stays attached and no later item is tried.
TEST(Faults, HiddenMarkThatCannotBeReadOrCleared) {
  for (const std::string fault : {"read", "clear"}) {
    Sandbox sandbox;
    fs::path image = appImage(sandbox);
    setxattr((image / "Foo.app").c_str(), "user.hidden", "1", 1, 0);
    // A sanitized tool wants its runtime first; the shim only has to come before the C library.
    sandbox.setup("export TARNWELL_FAULT_XATTR=" + fault +
                  " LD_PRELOAD=/standin/bin/libtarnwell_fault.so ASAN_OPTIONS=verify_asan_link_order=0");
    auto run = sandbox.runTool({"Sample.dmg", "Foo.app", "Bar.pkg"});
    EXPECT_EQ(run.status, 1);
    const std::string action = fault == "read" ? "read" : "change";
    EXPECT_EQ(run.lastLine(), " checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! Could not " + action +
                                 " the hidden mark of \"/Applications/Foo.app\": Input/output error");
    EXPECT_EQ(run.logged("App is hidden, Hence Unhid app"), fault == "clear");
    EXPECT_FALSE(fs::exists(sandbox.after("qxmount.plist")));
    EXPECT_EQ(sandbox.read("after/volumes"), "Sample\n");
    EXPECT_TRUE(run.callsOf("installer").empty());
  }
}

TEST(Faults, InstallerKilledBySignal) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.scenario("installer-script", "kill -KILL $$");
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.logged("launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 9"));
  EXPECT_TRUE(run.logged("installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed "));
}

TEST(Faults, AttachLeavesADaemonHoldingThePipe) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.scenario("attach-script", "(sleep 20 &)");
  auto start = std::chrono::steady_clock::now();
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST(Faults, ApplicationsFolderMissing) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.setup("rmdir /Applications");
  sandbox.check("mkdir -p /standin/after/Applications");
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.logged("App Copied Failed!!!!!!!!!!! Could not create \"/Applications/Foo.app\": No such file or directory"));
}

TEST(Faults, ApplicationsFolderReadOnly) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.setup("mount -t tmpfs tmpfs /Applications && " + std::string(kOldApp) + " && mount -o remount,ro /Applications");
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.logged("App Copied Failed!!!!!!!!!!! Could not move \"/Applications/Foo.app\": Read-only file system"));
  expectOldAppAlone(sandbox);
}

TEST(Faults, DiskFullDuringTheCopyKeepsTheOldBundle) {
  Sandbox sandbox;
  appImage(sandbox, 3 << 20);
  sandbox.setup("mount -t tmpfs -o size=1m tmpfs /Applications && " + std::string(kOldApp));
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app", "Bar.pkg"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.logged("App already exist , hence replacing"));
  EXPECT_NE(std::find_if(run.log.begin(), run.log.end(),
                         [](const std::string& line) {
                           return line.starts_with("App Copied Failed!!!!!!!!!!! ") && line.ends_with("No space left on device");
                         }),
            run.log.end());
  expectOldAppAlone(sandbox);
}

TEST(Faults, ItemThatIsALinkOnTheVolume) {
  Sandbox sandbox;
  fs::path image = appImage(sandbox);
  fs::create_directory_symlink("Foo.app", image / "Link.app");
  fs::create_directory_symlink("/", image / "Root.app");
  for (const std::string& name : {"Link.app", "Root.app"}) {
    auto run = sandbox.runTool({"Sample.dmg", name});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.logged("App Copied Failed!!!!!!!!!!! Could not copy \"/Volumes/Sample/" + name +
                                "\": it is a symbolic link, not a bundle"));
    EXPECT_TRUE(fs::is_empty(sandbox.after("Applications")));
  }
}

TEST(Faults, ResultFileThatIsADirectory) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.scenario("attach-script", "rm -f " + kResultFile + "; mkdir " + kResultFile);
  sandbox.check("[ -d " + kResultFile + " ] && touch /standin/directory-kept");
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.logged("PropertyListSerialization Failed!!!!! or not able to get contents of directory Could not read \"" +
                              kResultFile + "\": Is a directory"));
  EXPECT_EQ(run.lastLine(), "Error in deleting the plist");
  EXPECT_TRUE(fs::exists(sandbox.exchange() / "directory-kept"));
}

TEST(Faults, StartedThroughALink) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.setup("ln -s \"$tool\" /usr/local/bin/tarnwell && tool=/usr/local/bin/tarnwell");
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.log.front(), "Base Path " + kToolBase);
}

TEST(Faults, EmptyImageName) {
  Sandbox sandbox;
  appImage(sandbox);
  auto run = sandbox.runTool({"", "Foo.app"});
  EXPECT_EQ(run.status, 26);
  EXPECT_EQ(run.lastLine(), "Error in mounting ");
}

TEST(Faults, AThousandItems) {
  Sandbox sandbox;
  fs::path image = sandbox.image("Many.dmg");
  std::vector<std::string> args = {"Many.dmg"};
  for (int i = 0; i < 1000; ++i) {
    std::string name = "App" + std::to_string(i) + ".app";
    fs::create_directories(image / name / "Contents");
    args.push_back(name);
  }
  auto run = sandbox.runTool(args);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "App Copied successfully"), 1000);
  EXPECT_TRUE(fs::exists(sandbox.after("Applications/App999.app/Contents")));
}

TEST(Faults, NamesOfFourThousandCharacters) {
  Sandbox sandbox;
  appImage(sandbox);
  const std::string longImage = std::string(3996, 'i') + ".dmg", longItem = std::string(3996, 'a') + ".app";
  auto image = sandbox.runTool({longImage, "Foo.app"});
  EXPECT_EQ(image.status, 26);
  EXPECT_EQ(image.lastLine(), "Error in mounting " + longImage);

  auto item = sandbox.runTool({"Sample.dmg", "Foo.app", longItem});
  EXPECT_EQ(item.status, 1);
  EXPECT_TRUE(item.logged("intallfile : " + longItem + " not found"));
  EXPECT_TRUE(fs::exists(sandbox.after("Applications/Foo.app")));
}

TEST(Faults, StartedWithStandardDescriptorsClosed) {
  Sandbox sandbox;
  appImage(sandbox);
  sandbox.wrap({"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-"});
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(readFileText(sandbox.after("Applications/Foo.app/Contents/MacOS/Foo")), std::string(16, 'n'));
}
