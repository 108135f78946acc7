// Whole runs of the real tarnwell binary in the sandbox, one group per road
// of the exit-status table.

#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnwell::test;

namespace {

const std::string kMountCmd = "Mount cmd ->echo YES | hdiutil attach -nobrowse -plist ";

// `expected` appear in the log in this order (other lines may come between).
void expectInOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const auto& line : log) {
    if (at < expected.size() && line == expected[at]) ++at;
  }
  std::string all;
  for (const auto& line : log) all += "  | " + line + "\n";
  EXPECT_EQ(at, expected.size()) << "missing from the log: " << (at < expected.size() ? expected[at] : "") << "\n"
                                 << all;
}

// An image with one application bundle (marked hidden, a link inside) and one package.
fs::path sampleImage(Sandbox& sandbox, const std::string& name = "Sample.dmg") {
  fs::path image = sandbox.image(name);
  fs::create_directories(image / "Foo.app/Contents/MacOS");
  fs::create_directories(image / "Foo.app/Contents/Versions/A");
  writeFileText(image / "Foo.app/Contents/MacOS/Foo", "#!/bin/sh\necho foo\n");
  chmod((image / "Foo.app/Contents/MacOS/Foo").c_str(), 0755);
  fs::create_directory_symlink("A", image / "Foo.app/Contents/Versions/Current");
  setxattr((image / "Foo.app").c_str(), "user.hidden", "1", 1, 0);
  writeFileText(image / "Bar.pkg", "xar!");
  return image;
}

}  // namespace

TEST(WholeRun, InstallsEveryItemAndCleansUp) {
  Sandbox sandbox;
  sampleImage(sandbox);
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  ASSERT_GE(run.log.size(), 16u);
  std::vector<std::string> expected = {
      "Base Path " + kToolBase,
      "Given Args dmgName:Sample.dmg,\nargArray :[\"Foo.app\", \"Bar.pkg\"]",
      kMountCmd + kToolBase + "/Sample.dmg>" + kResultFile,
      "Given Command /bin/bash echo YES | hdiutil attach -nobrowse -plist " + kToolBase + "/Sample.dmg>" + kResultFile,
      "terminationStatus : 0 output : ",
      "Array count in systemEntities 2",
      "mount-point : /Volumes/Sample",
      "Files list in the volume : [\"Bar.pkg\", \"Foo.app\"]\n files count 2",
      "installAppsAndPkg(_:_:_:):Copying from appPath : /Volumes/Sample/Foo.app destinationPath :/Applications/Foo.app",
      "App Copied successfully",
      "App is hidden, Hence Unhid app",
      "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg",
      "isSiliconMachine returnCode 0 Output \"Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz\n\"",
      "launchProcess(atPath:withArgs:_:timeout:):Given launchPath:/usr/sbin/installer, withArgs:[\"-pkg\", "
      "\"/Volumes/Sample/Bar.pkg\", \"-target\", \"/\"], inDirectory:/, timeoutIn:3600seconds",
      "launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 0",
      "Given Command /bin/bash hdiutil detach -force \"/Volumes/Sample\"",
      "terminationStatus : 0 output : \"/Volumes/Sample\" ejected.\n",
  };
  // The listing's order is the file system's: compare it apart.
  std::vector<std::string> log = run.log;
  for (auto& line : log) {
    if (line == "Files list in the volume : [\"Foo.app\", \"Bar.pkg\"]\n files count 2") line = expected[7];
  }
  EXPECT_EQ(log, expected);

  EXPECT_EQ(sandbox.read("attach-stdin"), "YES");
  auto hdiutil = run.callsOf("hdiutil");
  ASSERT_EQ(hdiutil.size(), 2u);
  EXPECT_EQ(hdiutil[0].args, (std::vector<std::string>{"attach", "-nobrowse", "-plist", kToolBase + "/Sample.dmg"}));
  EXPECT_EQ(hdiutil[1].args, (std::vector<std::string>{"detach", "-force", "/Volumes/Sample"}));
  auto installer = run.callsOf("installer");
  ASSERT_EQ(installer.size(), 1u);
  EXPECT_EQ(installer[0].args, (std::vector<std::string>{"-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
  EXPECT_EQ(installer[0].directory, "/");
  EXPECT_TRUE(run.callsOf("arch").empty());

  EXPECT_EQ(sandbox.read("installed/packages"), "Bar.pkg\n");
  EXPECT_FALSE(fs::exists(sandbox.after("qxmount.plist")));
  EXPECT_EQ(sandbox.read("after/volumes"), "");
  fs::path app = sandbox.after("Applications/Foo.app");
  EXPECT_EQ(readFileText(app / "Contents/MacOS/Foo"), "#!/bin/sh\necho foo\n");
  EXPECT_EQ(fs::status(app / "Contents/MacOS/Foo").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_TRUE(fs::is_symlink(app / "Contents/Versions/Current"));
  char value[8];
  EXPECT_LT(getxattr(app.c_str(), "user.hidden", value, sizeof value), 0) << "the bundle is still hidden";
}

TEST(WholeRun, PackageOnAnAppleProcessorGoesThroughArch) {
  Sandbox sandbox;
  sampleImage(sandbox);
  sandbox.scenario("sysctl-output", "Apple M2 Max\n");
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  expectInOrder(run.log, {"launchProcess(atPath:withArgs:_:timeout:):Given launchPath:/bin/sh, withArgs:[\"-c\", "
                          "\"arch -arch arm64 installer -pkg \\\"/Volumes/Sample/Bar.pkg\\\" -target /\"], "
                          "inDirectory:/, timeoutIn:3600seconds"});
  auto arch = run.callsOf("arch");
  ASSERT_EQ(arch.size(), 1u);
  EXPECT_EQ(arch[0].args, (std::vector<std::string>{"-arch", "arm64", "installer", "-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
  auto installer = run.callsOf("installer");
  ASSERT_EQ(installer.size(), 1u);
  EXPECT_EQ(installer[0].directory, "/");
}

TEST(WholeRun, TooFewArguments) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"Sample.dmg"}}) {
    Sandbox sandbox;
    sampleImage(sandbox);
    auto run = sandbox.runTool(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.log, (std::vector<std::string>{"Base Path " + kToolBase, "Arguments are low"}));
    EXPECT_TRUE(run.calls.empty());
    EXPECT_FALSE(fs::exists(sandbox.after("qxmount.plist")));
  }
}

TEST(WholeRun, FailedAttachEndsWith26AndLeavesTheResultFile) {
  Sandbox sandbox;
  sampleImage(sandbox, "Sample Disk.dmg");
  sandbox.scenario("attach-status", "1");
  auto run = sandbox.runTool({"Sample Disk.dmg", "Foo.app"});
  EXPECT_EQ(run.status, 26);
  EXPECT_EQ(run.out, "");
  expectInOrder(run.log, {kMountCmd + kToolBase + "/Sample\\ Disk.dmg>" + kResultFile,
                          "terminationStatus : 1 output : hdiutil: attach failed - not recognized\n",
                          "Error in mounting Sample Disk.dmg"});
  EXPECT_EQ(run.log.back(), "Error in mounting Sample Disk.dmg");
  EXPECT_TRUE(fs::exists(sandbox.after("qxmount.plist")));
  EXPECT_FALSE(run.detached());
  EXPECT_EQ(run.callsOf("hdiutil")[0].args.back(), kToolBase + "/Sample Disk.dmg");
}

TEST(WholeRun, MissingImageIsAFailedAttach) {
  Sandbox sandbox;
  auto run = sandbox.runTool({"/Absent.dmg", "Foo.app"});
  EXPECT_EQ(run.status, 26);
  EXPECT_EQ(run.log.back(), "Error in mounting /Absent.dmg");
  EXPECT_EQ(run.callsOf("hdiutil")[0].args.back(), kToolBase + "/Absent.dmg") << "the image stays under the base path";
}

TEST(WholeRun, ResultFileMissingAfterTheAttach) {
  Sandbox sandbox;
  sampleImage(sandbox);
  sandbox.scenario("attach-script", "rm -f " + kResultFile);
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.log.back(), "qxmount.plist is not available");
  EXPECT_FALSE(run.detached());
}

// The roads that end after a successful attach and before any item: each
// ends with status 1 and its own last lines, removes the saved result and
// leaves the volume attached.
TEST(WholeRun, FailureRoadsAfterTheAttach) {
  const std::string failed = "PropertyListSerialization Failed!!!!! or not able to get contents of directory ";
  const std::string noRows = "No rows found in mounted volume's plist, hence installation failed!!!!!";
  const std::string empty = "mount-point not found in mounted volume's plist, hence installation failed!!!!!";
  struct Road {
    std::string answer;
    std::vector<std::string> lastLines;
  };
  const std::vector<Road> roads = {
      {"hdiutil: this is not a property list\n",
       {failed + "Could not read \"" + kResultFile + "\" as a property list: the data is not an XML or binary property list"}},
      {"<plist><array/></plist>", {"terminationStatus : 0 output : ", noRows}},
      {entitiesPlist({}), {"terminationStatus : 0 output : ", noRows}},
      {entitiesPlist({"-", "-", "-"}),
       {"Array count in systemEntities 3", "mount-point key not found in mounted volume's plist, hence installation failed!!!!!"}},
      {entitiesPlist({"", "-", ""}), {"Array count in systemEntities 3", "mount-point : ", empty, "mount-point : ", empty}},
      {entitiesPlist({"/Volumes/Gone"}),
       {"mount-point : /Volumes/Gone", failed + "Could not list the contents of \"/Volumes/Gone\": No such file or directory"}},
  };
  for (const Road& road : roads) {
    Sandbox sandbox;
    sampleImage(sandbox);
    sandbox.scenario("attach-answer", road.answer);
    auto run = sandbox.runTool({"Sample.dmg", "Foo.app"});
    EXPECT_EQ(run.status, 1) << road.answer;
    ASSERT_GE(run.log.size(), road.lastLines.size());
    EXPECT_EQ(std::vector<std::string>(run.log.end() - static_cast<long>(road.lastLines.size()), run.log.end()), road.lastLines);
    EXPECT_FALSE(fs::exists(sandbox.after("qxmount.plist"))) << road.answer;
    EXPECT_FALSE(run.detached()) << road.answer;
  }
}

TEST(WholeRun, EmptyMountPointThenAUsableOne) {
  Sandbox sandbox;
  sampleImage(sandbox);
  sandbox.setup("mkdir -p /Volumes/Real && cp -a " + kToolBase + "/Sample.dmg/. /Volumes/Real/");
  sandbox.scenario("attach-answer", entitiesPlist({"", "/Volumes/Real", "/Volumes/Second"}));
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  expectInOrder(run.log, {"Array count in systemEntities 3", "mount-point : ",
                          "mount-point not found in mounted volume's plist, hence installation failed!!!!!",
                          "mount-point : /Volumes/Real"});
  EXPECT_FALSE(run.logged("mount-point : /Volumes/Second"));
  EXPECT_EQ(run.callsOf("hdiutil").back().args.back(), "/Volumes/Real");
}

TEST(WholeRun, EmptyVolumeAndAMissingItem) {
  Sandbox sandbox;
  sandbox.image("Empty.dmg");
  auto run = sandbox.runTool({"Empty.dmg", "Nothing.pkg"});
  EXPECT_EQ(run.status, 1);
  expectInOrder(run.log, {"Files list in the volume : []\n files count 0", "intallfile : Nothing.pkg not found"});
  EXPECT_FALSE(fs::exists(sandbox.after("qxmount.plist")));
  EXPECT_TRUE(run.detached());
  EXPECT_EQ(sandbox.read("after/volumes"), "");
}

TEST(WholeRun, SecondOfThreeItemsFails) {
  Sandbox sandbox;
  fs::path image = sampleImage(sandbox);
  fs::create_directories(image / "Third.app");
  sandbox.scenario("installer-status", "1");
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app", "Bar.pkg", "Third.app"});
  EXPECT_EQ(run.status, 1);
  expectInOrder(run.log, {"App Copied successfully", "launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 1",
                          "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed ",
                          "Given Command /bin/bash hdiutil detach -force \"/Volumes/Sample\""});
  EXPECT_TRUE(fs::exists(sandbox.after("Applications/Foo.app")));
  EXPECT_FALSE(fs::exists(sandbox.after("Applications/Third.app")));
  EXPECT_FALSE(fs::exists(sandbox.after("qxmount.plist")));
  EXPECT_TRUE(run.detached());
}

TEST(WholeRun, UnsupportedAndClimbingNames) {
  for (const std::string& name : {std::string("Foo.APP"), std::string("readme.txt"), std::string("../../../etc/Evil.app"),
                                  std::string("Foo.app/../../Sample.dmg/Foo.app")}) {
    Sandbox sandbox;
    fs::path image = sampleImage(sandbox);
    fs::create_directories(image / "Foo.APP");
    writeFileText(image / "readme.txt", "hi");
    sandbox.setup("mkdir -p /etc/Evil.app && touch /etc/Evil.app/keep");
    sandbox.check("[ -e /etc/Evil.app/keep ] && touch /standin/evil-kept");
    auto run = sandbox.runTool({"Sample.dmg", name});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_TRUE(run.logged("Not handled " + name)) << name;
    EXPECT_TRUE(fs::is_empty(sandbox.after("Applications"))) << name;
    EXPECT_TRUE(fs::exists(sandbox.exchange() / "evil-kept")) << name;
    EXPECT_TRUE(run.detached());
  }
}

TEST(WholeRun, DetachFailureKeepsStatusZero) {
  Sandbox sandbox;
  sampleImage(sandbox);
  sandbox.scenario("detach-status", "16");
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.log.back(), "Error in unmount /Volumes/Sample");
}

TEST(WholeRun, ResultFileGoneBeforeCleanUp) {
  Sandbox sandbox;
  sampleImage(sandbox);
  sandbox.scenario("installer-script", "rm -f " + kResultFile);
  auto run = sandbox.runTool({"Sample.dmg", "Bar.pkg"});
  EXPECT_EQ(run.status, 0);
  expectInOrder(run.log, {"Error in deleting the plist", "Given Command /bin/bash hdiutil detach -force \"/Volumes/Sample\""});
  EXPECT_TRUE(run.detached());
}

TEST(WholeRun, ShellCharactersInNamesRunNothing) {
  const std::string image = "x$(touch /tmp/owned)`touch /tmp/owned`;touch /tmp/owned 'q\"\\.dmg";
  const std::string package = "p$(touch /tmp/owned)\"`touch /tmp/owned`\\.pkg";
  const std::string mountPoint = "/Volumes/M \"$(touch /tmp/owned)\" `touch /tmp/owned` \\ $HOME";
  Sandbox sandbox;
  fs::path folder = sandbox.image(image);
  writeFileText(folder / package, "xar!");
  sandbox.scenario("mount-point", mountPoint);
  sandbox.scenario("sysctl-output", "Apple M1\n");
  sandbox.check("if [ -e /tmp/owned ]; then touch /standin/owned; fi");
  auto run = sandbox.runTool({image, package});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(fs::exists(sandbox.exchange() / "owned"));
  auto hdiutil = run.callsOf("hdiutil");
  ASSERT_EQ(hdiutil.size(), 2u);
  EXPECT_EQ(hdiutil[0].args.back(), kToolBase + "/" + image);
  EXPECT_EQ(hdiutil[1].args, (std::vector<std::string>{"detach", "-force", mountPoint}));
  auto installer = run.callsOf("installer");
  ASSERT_EQ(installer.size(), 1u);
  EXPECT_EQ(installer[0].args, (std::vector<std::string>{"-pkg", mountPoint + "/" + package, "-target", "/"}));
  EXPECT_TRUE(run.logged("mount-point : " + mountPoint));
}

TEST(WholeRun, NamesWithBlanksQuotesAndBackslashesInTheLog) {
  Sandbox sandbox;
  fs::path image = sandbox.image("My Disk.dmg");
  fs::create_directories(image / "It's \"Q\" \\ App.app");
  auto run = sandbox.runTool({"My Disk.dmg", "It's \"Q\" \\ App.app", ""});
  EXPECT_EQ(run.status, 1);  // the empty name is the volume itself: not a kind the tool handles
  expectInOrder(run.log, {"Given Args dmgName:My Disk.dmg,\nargArray :[\"It\\'s \\\"Q\\\" \\\\ App.app\", \"\"]",
                          kMountCmd + kToolBase + "/My\\ Disk.dmg>" + kResultFile, "App Copied successfully", "Not handled "});
  EXPECT_TRUE(fs::exists(sandbox.after("Applications/It's \"Q\" \\ App.app")));
}

TEST(WholeRun, MemcheckFindsNoLeakAndNoInvalidAccess) {
#if defined(TARNWELL_SANITIZED)
  GTEST_SKIP() << "valgrind cannot run a sanitized binary; the sanitizers check this build";
#else
  ASSERT_TRUE(fs::exists("/usr/bin/valgrind")) << "valgrind is missing: scripts/setup.sh installs it";
  Sandbox sandbox;
  sampleImage(sandbox);
  sandbox.wrap({"valgrind", "--error-exitcode=99", "--leak-check=full", "--show-leak-kinds=definite,indirect",
                "--errors-for-leak-kinds=definite,indirect", "--log-file=/standin/valgrind.log"});
  auto run = sandbox.runTool({"Sample.dmg", "Foo.app", "Bar.pkg"});
  std::string report = sandbox.read("valgrind.log");
  EXPECT_EQ(run.status, 0) << report;
  EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
  EXPECT_TRUE(fs::exists(sandbox.after("Applications/Foo.app")));
#endif
}
