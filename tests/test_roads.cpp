// Whole runs of the real binary, one row per road: every row of the
// exit-status table, each failure after the attach, and the faults a
// careful user would meet.

#include "harness.h"

#include <algorithm>
#include <functional>

#include <sys/stat.h>
#include <sys/xattr.h>

using namespace tarnwell::test;

namespace {

const std::string kMount = "Mount cmd ->echo YES | hdiutil attach -nobrowse -readonly -plist ";
const std::string kFailed = "PropertyListSerialization Failed!!!!! or not able to get contents of directory ";
const std::string kNoRows = "No rows found in mounted volume's plist, hence installation failed!!!!!";
const std::string kNoKey = "mount-point key not found in mounted volume's plist, hence installation failed!!!!!";
const std::string kUnusable = "mount-point not found in mounted volume's plist, hence installation failed!!!!!";
const std::string kCopyFailed = "App Copied Failed!!!!!!!!!!! ";
const std::string kOldApp = "mkdir -p /Applications/Foo.app && echo old > /Applications/Foo.app/version";

// What a run leaves: the saved result removed and the volume detached, the
// result removed and the volume still attached, or the result kept.
enum End { Cleaned, Attached, Kept };

struct Road {
  std::string name;
  std::function<void()> setup = [] { sampleImage(); };
  std::vector<std::string> args = {"Sample.dmg", "Foo.app"};
  int status = 0;
  End end = Cleaned;
  std::vector<std::string> lines = {};  // in this order, other lines between
  std::function<void(const Outcome&)> check = [](const Outcome&) {};
  std::vector<std::string> wrapper = {};
  std::string base = kBase;
};

void answer(const std::string& plist) {
  sampleImage();
  scenario("attach-answer", plist);
}

// The tables and the rows they are made of keep a row's fields together,
// laid out by hand.
// clang-format off

// A failure after the attach: the result file goes, the volume stays.
Road afterAttach(const std::string& name, const std::string& plist, std::vector<std::string> lines) {
  return {.name = name, .setup = [=] { answer(plist); }, .status = 1, .end = Attached, .lines = lines};
}

void expectOnly(const std::vector<std::string>& applications, const std::string& version = "") {
  EXPECT_EQ(names("/Applications"), applications);
  if (!version.empty()) EXPECT_EQ(readText("/Applications/Foo.app/version"), version);
}

void nothingInstalled(const Outcome&) { expectOnly({}); }
void oldStays(const Outcome&) { expectOnly({"Foo.app"}, "old\n"); }

// A line "A…B" stands for any that starts with A and ends with B.
bool matches(const std::string& entry, const std::string& line) {
  const std::string_view any = "…";
  size_t gap = line.find(any);
  if (gap == std::string::npos) return entry == line;
  return entry.size() + any.size() >= line.size() && entry.starts_with(line.substr(0, gap)) && entry.ends_with(line.substr(gap + any.size()));
}

// Nothing started, and only these lines logged.
std::function<void(const Outcome&)> ranNothing(size_t lines) {
  return [=](const Outcome& run) { EXPECT_EQ(run.log.size(), lines); EXPECT_TRUE(run.calls.empty()); };
}

void installerDirectly(const Outcome& run) {
  EXPECT_TRUE(run.callsOf("arch").empty());
  ASSERT_EQ(run.callsOf("installer").size(), 1u);
  EXPECT_EQ(run.callsOf("installer")[0].args, (std::vector<std::string>{"-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
}

Road processor(const std::string& name, const std::string& output, const std::string& status, const std::string& line) {
  return {.name = name, .setup = [=] { sampleImage(); scenario("sysctl-output", output); scenario("sysctl-status", status); },
          .args = {"Sample.dmg", "Bar.pkg"}, .lines = {line}, .check = installerDirectly};
}

Road hiddenMark(const std::string& fault) {
  return {.name = "HiddenMarkCannotBe" + fault, .args = {"Sample.dmg", "Foo.app", "Bar.pkg"}, .status = 1, .end = Attached,
          .lines = {std::string(" checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! Could not ") +
                    (fault == "read" ? "read" : "change") + " the hidden mark of \"/Applications/Foo.app\": Input/output error"},
          .check = [=](const Outcome& run) {
            EXPECT_EQ(run.logged("App is hidden, Hence Unhid app"), fault == "clear");
            EXPECT_TRUE(run.callsOf("installer").empty());
            EXPECT_EQ(names("/Volumes"), std::vector<std::string>{"Sample"});
          },
          .wrapper = withFault("TARNWELL_FAULT_XATTR=" + fault)};
}

// Refused as macOS refuses a change to a bundle without App Management: with EPERM or EACCES, by release.
Road refusedSwap(const std::string& name, const std::string& error, const std::string& text) {
  return {.name = name, .setup = [] { sampleImage(); sh(kOldApp); }, .status = 1,
          .lines = {kCopyFailed + "Could not move into place \"/Applications/Foo.app\": " + text, "The system refused a change in /Applications (" + text + "). From macOS 13 on, …"},
          .check = oldStays, .wrapper = withFault("TARNWELL_FAULT_RENAME=" + error)};
}

// The volume unmounts but its disk is busy; the disk goes by itself at once, and its number may go to another image.
Road ejectedLater(const std::string& name, const std::string& after) {
  return {.name = name, .setup = [=] { sampleImage(); scenario("eject-later", after); }, .args = {"Sample.dmg", "Bar.pkg"}, .lines = {"Error in unmount /Volumes/Sample"},
          .check = [=](const Outcome& run) { EXPECT_EQ(run.callsOf("hdiutil").size(), 2u); EXPECT_EQ(fs::exists("/Volumes/Other"), !after.empty()); }};
}

Road unsupported(const std::string& name, const std::string& item) {
  return {.name = name,
          .setup = [] { sh("mkdir -p /etc/Evil.app " + (sampleImage() / "Foo.APP").string() + " && touch /etc/Evil.app/keep " + kBase + "/Sample.dmg/readme.txt"); },
          .args = {"Sample.dmg", item}, .status = 1, .lines = {"Not handled " + item},
          .check = [](const Outcome&) { expectOnly({}); EXPECT_TRUE(fs::exists("/etc/Evil.app/keep")); }};
}

Road linked(const std::string& name, const std::string& target) {
  return {.name = name.substr(0, name.find('.')) + "IsALink", .setup = [=] { fs::create_directory_symlink(target, sampleImage() / name); },
          .args = {"Sample.dmg", name}, .status = 1,
          .lines = {kCopyFailed + "Could not copy \"/Volumes/Sample/" + name + "\": it is a symbolic link, not a bundle"}, .check = nothingInstalled};
}

// Every character a shell acts on, in every name that reaches a shell; in
// the volume's name after one whose last byte Big5 reads with a backslash.
const std::string kShellCharacters = "$(touch /tmp/owned)`touch /tmp/owned`;touch /tmp/owned|&<>*?[a]{b,c}~#!=% \t\n'\"\\$HOME";
const std::string kHostileImage = "x" + kShellCharacters + ".dmg";
const std::string kHostilePackage = "p" + kShellCharacters + ".pkg";
const std::string kHostileVolume = "/Volumes/M\xe4\xa1\xa1" + kShellCharacters;
const std::string kHostileBase = "/Library/T" + kShellCharacters;

// Every row of the exit-status table, and the ways the tool is started.
const std::vector<Road> kStatusRoads = {
    {.name = "NoArguments", .args = {}, .status = 1, .end = Attached, .lines = {"Base Path " + kBase, "Arguments are low"}, .check = ranNothing(2)},
    {.name = "OneArgument", .args = {"Sample.dmg"}, .status = 1, .end = Attached, .lines = {"Base Path " + kBase, "Arguments are low"}, .check = ranNothing(2)},
    {.name = "AttachFails", .setup = [] { sampleImage("Sample Disk.dmg"); scenario("attach-status", "1"); }, .args = {"Sample Disk.dmg", "Foo.app"}, .status = 26, .end = Kept,
     .lines = {kMount + kBase + "/Sample\\ Disk.dmg>" + kResult, "terminationStatus : 1 output : hdiutil: attach failed - not recognized\\n",
               "Error in mounting Sample Disk.dmg"},
     .check = [](const Outcome& run) { EXPECT_EQ(run.log.back(), "Error in mounting Sample Disk.dmg"); EXPECT_EQ(run.callsOf("hdiutil").at(0).args.back(), kBase + "/Sample Disk.dmg"); }},
    {.name = "ImageMissing", .args = {"/Absent.dmg", "Foo.app"}, .status = 26, .end = Kept, .lines = {"Error in mounting /Absent.dmg"},
     .check = [](const Outcome& run) { EXPECT_EQ(run.callsOf("hdiutil").at(0).args.back(), kBase + "/Absent.dmg"); }},
    {.name = "EmptyImageName", .args = {"", "Foo.app"}, .status = 26, .end = Kept, .lines = {"Error in mounting "}},
    {.name = "ResultMissingAfterAttach", .setup = [] { sampleImage(); scenario("attach-script", "rm " + kResult); }, .status = 1, .end = Attached, .lines = {"qxmount.plist is not available"}},
    // A detach is tried five times, by the image's own disk after the first.
    {.name = "DetachFails", .setup = [] { sampleImage(); scenario("detach-status", "16"); }, .args = {"Sample.dmg", "Bar.pkg"},
     .lines = {"Error in unmount /Volumes/Sample", "Error in unmount /dev/disk9", "Error in unmount /dev/disk9"},
     .check = [](const Outcome& run) { EXPECT_EQ(run.callsOf("hdiutil").size(), 6u); }},
    ejectedLater("ADiskThatWentByItselfIsNoError", ""),
    ejectedLater("ADiskNumberTakenMeanwhileIsLeftAlone", "mkdir /Volumes/Other && printf /Volumes/Other > /dev/disk9"),
    {.name = "ABusyVolumeIsTriedAgain", .setup = [] { sampleImage(); scenario("detach-busy", "2"); }, .args = {"Sample.dmg", "Bar.pkg"},
     .lines = {"Error in unmount /Volumes/Sample", "Error in unmount /dev/disk9"},
     .check = [](const Outcome&) { EXPECT_FALSE(fs::exists("/dev/disk9")); EXPECT_TRUE(fs::is_empty("/Volumes")); }},
    // Detached by its mount point, an APFS volume leaves the image's disk.
    {.name = "AnApfsImageLeavesItsDisk", .setup = [] { sampleImage(); scenario("apfs", "1"); }, .args = {"Sample.dmg", "Bar.pkg"},
     .check = [](const Outcome& run) {
       EXPECT_EQ(run.callsOf("hdiutil").back().args, (std::vector<std::string>{"detach", "-force", "/dev/disk9"}));
       EXPECT_FALSE(fs::exists("/dev/disk9"));
     }},
    {.name = "ResultGoneBeforeCleanUp", .setup = [] { sampleImage(); scenario("installer-script", "rm " + kResult); }, .args = {"Sample.dmg", "Bar.pkg"},
     .lines = {"Error in deleting the plist", "Given Command /bin/bash hdiutil detach -force \"/Volumes/Sample\""}},
    {.name = "StartedThroughALink", .args = {"Sample.dmg", "Bar.pkg"}, .lines = {"Base Path " + kBase},
     .check = [](const Outcome& run) { EXPECT_EQ(run.log.front(), "Base Path " + kBase); },
     .wrapper = {"/bin/sh", "-c", "ln -s \"$0\" /usr/local/bin/tw && exec /usr/local/bin/tw \"$@\""}},
    // Without /proc there is no base directory, and "/" is no stand-in for one.
#if !defined(TARNWELL_APPLE_STANDINS)  // /proc, which macOS has not
    {.name = "ExecutablePathUnknown", .status = 1, .end = Attached, .lines = {"Base Path unknown: Could not read \"/proc/self/exe\": No such file or directory"},
     .check = [](const Outcome& run) { ranNothing(1)(run); EXPECT_FALSE(fs::exists("/tarnwell.lock")); }, .wrapper = withFault("TARNWELL_FAULT_EXE=")},
#endif
    {.name = "StandardDescriptorsClosed",
     .setup = [] { sampleImage(); writeText("/usr/sbin/installer", "#!/bin/sh\nreadlink /proc/$PPID/fd/2 > /standin/tool-stderr\n"); }, .args = {"Sample.dmg", "Foo.app", "Bar.pkg"},
     .check = [](const Outcome& run) {
       EXPECT_TRUE(run.log.empty());
       EXPECT_EQ(readText("/standin/tool-stderr"), "/dev/null\n") << "the log goes wherever the tool's stderr leads";
       EXPECT_EQ(readText("/Applications/Foo.app/Contents/MacOS/Foo"), "#!/bin/sh\necho foo\n");
     },
     .wrapper = {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-"}},
#if !defined(TARNWELL_SANITIZED)  // valgrind cannot run a sanitized binary
    {.name = "MemcheckFindsNothing", .args = {"Sample.dmg", "Foo.app", "Bar.pkg"}, .lines = {"App Copied successfully"},
     .check = [](const Outcome&) { EXPECT_NE(readText("/standin/valgrind").find("ERROR SUMMARY: 0 errors"), std::string::npos); },
     .wrapper = {"valgrind", "--error-exitcode=99", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect", "--log-file=/standin/valgrind"}},
#endif
};

// What the attach result says, or fails to say.
const std::vector<Road> kAttachResultRoads = {
    afterAttach("NotAPropertyList", "hdiutil: this is not a property list\n",
                {kFailed + "Could not read \"" + kResult + "\" as a property list: the data is not an XML or binary property list"}),
    afterAttach("RootIsAnArray", "<plist><array/></plist>", {"terminationStatus : 0 output : ", kNoRows}),
    afterAttach("NoEntities", entitiesPlist({}), {kNoRows}),
    // A value that is not text is no mount point at all, not an empty one.
    afterAttach("NoMountPointKeys", entitiesPlist({"-", "<integer>1</integer>", "<dict/>"}), {"Array count in systemEntities 3", kNoKey}),
    afterAttach("EmptyMountPoints", entitiesPlist({"", "-", ""}), {"mount-point : ", kUnusable, "mount-point : ", kUnusable}),
    afterAttach("MountPointIsRoot", entitiesPlist({"/", "/./"}), {"mount-point : /", kUnusable, "mount-point : /./", kUnusable}),
    afterAttach("MountPointIsRelativeOrElsewhere", entitiesPlist({"Volumes/Sample", "/Volumes/../", "/tmp/Sample"}),
                {"mount-point : Volumes/Sample", kUnusable, "mount-point : /Volumes/../", kUnusable, "mount-point : /tmp/Sample", kUnusable}),
    afterAttach("VolumeGone", entitiesPlist({"/Volumes/Gone"}),
                {"mount-point : /Volumes/Gone", kFailed + "Could not list the contents of \"/Volumes/Gone\": No such file or directory"}),
    // Padded to exactly the size limit, 1 MiB, which is still read; nothing
    // follows </plist>, which a second reading would leave out.
    {.name = "UnusableThenUsableMountPoint",
     .setup = [] {
       std::string plist = entitiesPlist({"", "/Volumes/Real", "/Volumes/Second"});
       answer(plist.substr(0, plist.size() - 9) + std::string((1 << 20) - plist.size() + 1, ' ') + "</plist>");
       sh("cp -a /Library/Tarnwell/Sample.dmg /Volumes/Real");
     },
     .args = {"Sample.dmg", "Bar.pkg"}, .lines = {"Array count in systemEntities 3", "mount-point : ", kUnusable, "mount-point : /Volumes/Real"},
     .check = [](const Outcome& run) { EXPECT_FALSE(run.logged("mount-point : /Volumes/Second")); EXPECT_EQ(run.callsOf("hdiutil").back().args.back(), "/Volumes/Real"); }},
    {.name = "MountPointIsALink", .setup = [] { sampleImage(); sh("mkdir /Volumes/Real && ln -s Real /Volumes/Lnk"); scenario("mount-point", "/Volumes/Lnk"); },
     .status = 1, .end = Attached, .lines = {kFailed + "Could not list the contents of \"/Volumes/Lnk\": Not a directory"}},
    {.name = "ResultFileIsADirectory", .setup = [] { sampleImage(); scenario("attach-script", "rm " + kResult + "; mkdir " + kResult); }, .status = 1, .end = Kept,
     .lines = {kFailed + "Could not read \"" + kResult + "\": Is a directory", "Error in deleting the plist"},
     .check = [](const Outcome&) { EXPECT_TRUE(fs::is_directory(kResult)); }},
};

// The items asked for, and the names that reach a shell or the log.
const std::vector<Road> kItemRoads = {
    {.name = "EmptyVolumeAndAMissingItem", .setup = [] { fs::create_directories(kBase + "/Empty.dmg"); }, .args = {"Empty.dmg", "Nothing.pkg"},
     .status = 1, .lines = {"Files list in the volume : []\n files count 0", "intallfile : Nothing.pkg not found"}},
    {.name = "SecondOfThreeItemsFails", .setup = [] { fs::create_directories(sampleImage() / "Third.app"); scenario("installer-status", "1"); },
     .args = {"Sample.dmg", "Foo.app", "Bar.pkg", "Third.app"}, .status = 1,
     .lines = {"App Copied successfully", "launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 1",
               "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed "},
     .check = [](const Outcome&) { expectOnly({"Foo.app"}); }},
    unsupported("CaseOfTheEnding", "Foo.APP"),
    unsupported("NeitherAppNorPkg", "readme.txt"),
    unsupported("ClimbsOut", "../../../etc/Evil.app"),
    unsupported("ClimbsOutInside", "Foo.app/../../Sample.dmg/Foo.app"),
    linked("Link.app", "Foo.app"),
    linked("Root.app", "/"),
    {.name = "APackageThatIsALink",
     .setup = [] { fs::remove(sampleImage() / "Bar.pkg"); writeText("/tmp/x.pkg", "xar!"); fs::create_symlink("/tmp/x.pkg", kBase + "/Sample.dmg/Bar.pkg"); },
     .args = {"Sample.dmg", "Bar.pkg"}, .status = 1,
     .lines = {"Could not install \"/Volumes/Sample/Bar.pkg\": it is a symbolic link, not a package",
               "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed "},
     .check = [](const Outcome& run) { EXPECT_TRUE(run.callsOf("installer").empty()); }},
    // The installer reads through a bundle-style package: no link in it may lead elsewhere.
    {.name = "APackageFolderHoldingALink", .setup = [] { fs::remove(sampleImage() / "Bar.pkg"); sh("mkdir -p /elsewhere " + kBase + "/Sample.dmg/Bar.pkg && ln -s /elsewhere " + kBase + "/Sample.dmg/Bar.pkg/Contents"); },
     .args = {"Sample.dmg", "Bar.pkg"}, .status = 1, .lines = {"Could not install \"/Volumes/Sample/Bar.pkg\": \"/Volumes/Sample/Bar.pkg/Contents\" is a symbolic link"},
     .check = [](const Outcome& run) { EXPECT_TRUE(run.callsOf("installer").empty()); }},
    {.name = "ShellCharactersRunNothing",
     .setup = [] {
       writeText(kHostileBase + "/" + kHostileImage + "/" + kHostilePackage, "xar!"); scenario("mount-point", kHostileVolume); scenario("sysctl-output", "Apple M1\n");
       sh("localedef --no-archive -i zh_TW -f BIG5 zh_TW.BIG5 && echo 'touch /tmp/owned' > /tmp/hdiutil && chmod +x /tmp/hdiutil");
     },
     .args = {kHostileImage, kHostilePackage},
     .check = [](const Outcome& run) {
       EXPECT_FALSE(fs::exists("/tmp/owned")); EXPECT_EQ(run.callsOf("hdiutil").at(0).args.back(), kHostileBase + "/" + kHostileImage);
       EXPECT_EQ(run.callsOf("hdiutil").at(1).args, (std::vector<std::string>{"detach", "-force", kHostileVolume}));
       EXPECT_EQ(run.callsOf("installer").at(0).args, (std::vector<std::string>{"-pkg", kHostileVolume + "/" + kHostilePackage, "-target", "/"}));
     },
     .wrapper = under("LC_ALL=zh_TW.BIG5 BASH_ENV=/tmp/hdiutil PATH=/tmp:$PATH"), .base = kHostileBase},
    {.name = "QuotesBackslashesAndPercentsInTheLog",
     .setup = [] { sh("mkdir -p \"" + kBase + "/My Disk.dmg/It's \\\"Q\\\" \\\\ %s%n App.app\" && setfattr -n user.hidden -v 0 " + kBase + "/My\\ Disk.dmg/*"); },
     .args = {"My Disk.dmg", "It's \"Q\" \\ %s%n App.app", ""}, .status = 1,
     .lines = {"Given Args dmgName:My Disk.dmg,\nargArray :[\"It\\'s \\\"Q\\\" \\\\ %s%n App.app\", \"\"]", kMount + kBase + "/My\\ Disk.dmg>" + kResult,
               "App Copied successfully", "Not handled "},
     .check = [](const Outcome& run) { expectOnly({"It's \"Q\" \\ %s%n App.app"}); EXPECT_FALSE(run.logged("App is hidden, Hence Unhid app")); }},
    {.name = "NamesOfFourThousandCharacters", .args = {"Sample.dmg", "Foo.app", std::string(3996, 'a') + ".app"}, .status = 1,
     .lines = {"App Copied successfully", "intallfile : " + std::string(3996, 'a') + ".app not found"}},
    {.name = "LineBreakInAFileNameForgesNothing", .setup = [] { sh("mkfifo '" + (sampleImage() / "Foo.app/x\nApp Copied successfully").string() + "'"); },
     .status = 1, .lines = {kCopyFailed + "Could not copy \"/Volumes/Sample/Foo.app/x\\nApp Copied successfully\"…"},
     .check = [](const Outcome& run) { EXPECT_FALSE(run.logged("App Copied successfully")); expectOnly({}); }},
};

// The processor query, and the installer started for it.
const std::vector<Road> kProcessorRoads = {
    {.name = "AppleProcessorGoesThroughArchEachTime", .setup = [] { sampleImage(); scenario("sysctl-output", "Apple M2 Max\n"); }, .args = {"Sample.dmg", "Bar.pkg", "Bar.pkg"},
     .lines = {"launchProcess(atPath:withArgs:_:timeout:):Given launchPath:/bin/sh, withArgs:[\"-c\", \"arch -arch arm64 installer -pkg "
               "\\\"/Volumes/Sample/Bar.pkg\\\" -target /\"], inDirectory:/, timeoutIn:3600seconds"},
     .check = [](const Outcome& run) {
       EXPECT_EQ(run.callsOf("arch").at(0).args, (std::vector<std::string>{"-arch", "arm64", "installer", "-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
       EXPECT_EQ(run.callsOf("installer").at(0).directory, "/");
       EXPECT_EQ(run.callsOf("sysctl").size(), 2u); EXPECT_EQ(run.callsOf("arch").size(), 2u);
     }},
    processor("LowerCaseApple", "apple m1\n", "0", "isSiliconMachine returnCode 0 Output \"apple m1\\n\""),
    processor("SysctlFailsSayingApple", "sysctl: Apple key missing\n", "1", "isSiliconMachine returnCode 1 Output \"sysctl: Apple key missing\\n\""),
    processor("SysctlOutputNotUtf8", "Intel\xff\xed\xa0\x80\n", "0", "isSiliconMachine returnCode 0 Output \"Intel\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\\n\""),
    {.name = "SysctlMissing", .setup = [] { sampleImage(); fs::remove("/usr/sbin/sysctl"); }, .args = {"Sample.dmg", "Bar.pkg"},
     .lines = {"isSiliconMachine returnCode 127 Output \"…"}, .check = installerDirectly},
    // What the installer writes is no part of the log.
    {.name = "InstallerKilled", .setup = [] { sampleImage(); scenario("installer-script", "echo noise >&2; kill -KILL $$"); }, .args = {"Sample.dmg", "Bar.pkg"}, .status = 1,
     .lines = {"launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 9", "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed "},
     .check = [](const Outcome&) { EXPECT_EQ(readText("/standin/tool.err").find("noise"), std::string::npos); }},
};

// Where the copy into /Applications meets the system, or what is there.
const std::vector<Road> kCopyRoads = {
    {.name = "FindersInvisibleBitIsCleared",
     .setup = [] {
       sh("f=" + (sampleImage() / "Foo.app").string() + " && setfattr -x " + kHiddenMark + " $f && setfattr -n user.com.apple.FinderInfo -v 0x" +
          std::string(16, '0') + "40" + std::string(46, '0') + " $f");
     },
     .lines = {"App Copied successfully", "App is hidden, Hence Unhid app"},
     .check = [](const Outcome&) {
       char info[33] = {};
       EXPECT_EQ(getxattr("/Applications/Foo.app", "user.com.apple.FinderInfo", info, sizeof info), 32);
       EXPECT_EQ(info[8], 0);
     }},
    {.name = "ARefusedSystemAttributeIsSkipped", .setup = [] { sh("setfattr -n user.com.apple.test -v x " + (sampleImage() / "Foo.app/Contents/MacOS/Foo").string()); },
     .lines = {"Skipped the attribute com.apple.test of \"/Applications/.tarnwell-staging.Foo.app.…/Foo.app/Contents/MacOS/Foo\": Operation not permitted",
               "App Copied successfully"},
     .wrapper = withFault("TARNWELL_FAULT_XATTR=refuse TARNWELL_FAULT_THREADS=1")},  // the walk copies alone
    refusedSwap("TheSystemRefusesTheSwap", "1", "Operation not permitted"),
    refusedSwap("TheSystemRefusesTheSwapWithEacces", "13", "Permission denied"),
    {.name = "ALongCopySaysHowFarItIs",  // a tenth of a second a file, for 13 seconds whatever the workers
     .setup = [] { sh("n=$(getconf _NPROCESSORS_ONLN); cd " + (sampleImage() / "Foo.app").string() + " && for i in $(seq $((130 * (n < 4 ? n : 4)))); do echo > f$i; done"); },
     .lines = {"Copying \"Foo.app\": …/s)", "Copying \"Foo.app\": …/s)", "Copied \"Foo.app\": …/s)", "App Copied successfully"},
     .check = [](const Outcome& run) {
       std::vector<unsigned long> files;
       for (const std::string& line : run.log) if (line.starts_with("Copying ")) files.push_back(std::stoul(line.substr(19)));
       EXPECT_EQ(std::adjacent_find(files.begin(), files.end(), std::greater_equal<>()), files.end()) << "the files copied do not grow";
     },
     .wrapper = withFault("TARNWELL_FAULT_SLOW=1")},
    {.name = "AFileFailsAmongMany", .setup = [] { sh("cd " + (sampleImage() / "Foo.app/Contents").string() + " && for i in $(seq 200); do echo new > f$i; done && " + kOldApp); },
     .status = 1, .lines = {kCopyFailed + "Could not …/Foo.app/Contents/f100\": Input/output error"},
     .check = [](const Outcome& run) {
       oldStays(run);
       EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(), [](const std::string& line) { return line.starts_with(kCopyFailed); }), 1);
     },
     .wrapper = withFault("TARNWELL_FAULT_EIO=f100")},
#if !defined(TARNWELL_SANITIZED)  // the sanitizers end the process instead
    {.name = "MemoryRefusedFailsTheItem", .setup = [] { sampleImage(); sh(kOldApp); }, .status = 1,
     .lines = {"Could not install \"/Volumes/Sample/Foo.app\": Cannot allocate memory"}, .check = oldStays, .wrapper = withFault("TARNWELL_FAULT_XATTR=huge")},
#endif
    {.name = "ApplicationsMissing", .setup = [] { sampleImage(); fs::remove("/Applications"); }, .status = 1, .lines = {kCopyFailed + "Could not open \"/Applications\": No such file or directory"}},
    {.name = "ApplicationsReadOnly",
     .setup = [] { sampleImage(); sh("mount -t tmpfs tmpfs /Applications && " + kOldApp + " && mount -o remount,ro /Applications"); }, .status = 1,
     .lines = {"App already exist , hence replacing", kCopyFailed + "Could not create…Read-only file system"}, .check = oldStays},
    {.name = "DiskFullKeepsTheOldBundle",
     .setup = [] { sh("head -c 3000000 /dev/urandom > " + (sampleImage() / "Foo.app/big").string() + " && mount -t tmpfs -o size=1m tmpfs /Applications && " + kOldApp); },
     .args = {"Sample.dmg", "Foo.app", "Bar.pkg"}, .status = 1,
     .lines = {"App already exist , hence replacing", kCopyFailed + "…No space left on device",
               "installAppsAndPkg(_:_:_:):Copying from appPath : /Volumes/Sample/Foo.app destinationPath : /Applications/Foo.app->failed"},
     .check = oldStays},
    {.name = "FileTooLargeKeepsTheOldBundle",
     .setup = [] { answer(entitiesPlist({"/Volumes/Big"})); sh("cp -a " + kBase + "/Sample.dmg /Volumes/Big && head -c 3000000 /dev/zero > /Volumes/Big/Foo.app/big && " + kOldApp); },
     .status = 1, .lines = {"App already exist , hence replacing", kCopyFailed + "…File too large"}, .check = oldStays, .wrapper = under("ulimit -f 1024;")},
    {.name = "NestedItemThroughALinkInApplications", .setup = [] { sh("mkdir -p /victim " + kBase + "/Sample.dmg/Dir/In.app && ln -s /victim /Applications/Dir"); },
     .args = {"Sample.dmg", "Dir/In.app"}, .status = 1, .lines = {kCopyFailed + "Could not open \"/Applications/Dir\": Not a directory"},
     .check = [](const Outcome&) { EXPECT_TRUE(fs::is_empty("/victim")); }},
    {.name = "ReplacesALinkLeavingItsTarget",
     .setup = [] { sampleImage(); sh("mkdir /Elsewhere && echo kept > /Elsewhere/version && ln -s /Elsewhere /Applications/Foo.app"); },
     .lines = {"App already exist , hence replacing", "App Copied successfully"},
     .check = [](const Outcome&) { EXPECT_TRUE(fs::exists("/Applications/Foo.app/Contents/MacOS/Foo")); expectOnly({"Foo.app"}); EXPECT_EQ(readText("/Elsewhere/version"), "kept\n"); }},
    // Only what a run that is gone left: marked by the tool (a mark only
    // root can set), private, not locked by a live run; or, killed before
    // it marked it, empty but perhaps for its lock (I, J). F is another
    // root-owned private folder renamed to a staging name; G is live; H's
    // are no staging names.
    {.name = "OnlyItsOwnLeftoversGo",
     .setup = [] {
       sampleImage();
       sh("cd /Applications && for s in AAAAAAAA BBBBBBBB CCCCCCCC DDDDDDDD EEEEEEEE FFFFFFFF GGGGGGGG HHHHHHHHH HHHH-HHH; do mkdir -m 700 .tarnwell-staging.Foo.app.$s"
          " && touch .tarnwell-staging.Foo.app.$s/f && setfattr -n user.com.tarnwell.staging -v $s .tarnwell-staging.Foo.app.$s; done && setfattr -x user.com.tarnwell.staging"
          " .tarnwell-staging.Foo.app.FFFFFFFF && setfattr -n user.com.tarnwell.staging -v AAAAAAAA .tarnwell-staging.Foo.app.EEEEEEEE"
          " && mv .tarnwell-staging.Foo.app.DDDDDDDD .tarnwell-staging.Other.app.DDDDDDDD && mkdir -p .tarnwell-staging.Foo.app.AAAAAAAA/x/y"
          " && touch .tarnwell-staging.Foo.app.AAAAAAAA/x/y/z && mkdir -m 700 .tarnwell-staging.Foo.app.IIIIIIII .tarnwell-staging.Foo.app.JJJJJJJJ"
          " && touch .tarnwell-staging.Foo.app.JJJJJJJJ/.tarnwell-lock && chown 501 .tarnwell-staging.Foo.app.BBBBBBBB && chmod 755 .tarnwell-staging.Foo.app.CCCCCCCC"
          " && (flock .tarnwell-staging.Foo.app.GGGGGGGG/.tarnwell-lock sleep 31 >/dev/null 2>&1 &) && sleep 0.2");
     },
     .lines = {"Removed /Applications/.tarnwell-staging.Foo.app.AAAAAAAA, left by an interrupted run"},
     .check = [](const Outcome&) {
       expectOnly({".tarnwell-staging.Foo.app.BBBBBBBB", ".tarnwell-staging.Foo.app.CCCCCCCC", ".tarnwell-staging.Foo.app.EEEEEEEE",
                   ".tarnwell-staging.Foo.app.FFFFFFFF", ".tarnwell-staging.Foo.app.GGGGGGGG", ".tarnwell-staging.Foo.app.HHHH-HHH",
                   ".tarnwell-staging.Foo.app.HHHHHHHHH", ".tarnwell-staging.Other.app.DDDDDDDD", "Foo.app"});
       sh("pkill -f 'sleep 3[1]'");
     }},
    // What cannot be removed (immutable here; on macOS a bundle App Management protects) stays, and all else goes.
    {.name = "RemovalGoesOnPastWhatItCannotRemove",
     .setup = [] { sh("cp -a " + (sampleImage() / "Foo.app").string() + " /Applications && chattr +i /Applications/Foo.app/Contents/MacOS/Foo /Applications/Foo.app/Contents/Versions/A/random"); },
     .lines = {"Could not remove \"/Applications/.tarnwell-staging.Foo.app.…\": Operation not permitted; 2 entries could not be removed", "App Copied successfully"},
     .check = [](const Outcome&) { sh("test $(find /Applications/.tarnwell-staging.*/Foo.app ! -type d | wc -l) = 2"); }},
    // A user who may write /Applications renames a bundle of root's to a name a run replaces, or moves one into a folder of
    // theirs in an old bundle (MacOS here): neither is deleted, nor by the run after one killed before it kept what it took out.
    {.name = "OnlyTheApplicationBeingReplacedIsDeleted",
     .setup = [] {
       sh("cp -a " + (sampleImage() / "Foo.app").string() + " " + kBase + "/Sample.dmg/Bar.app && mkdir -p /Applications/Foo.app/Contents && sed s/foo/victim/ " + kBase +
          "/Sample.dmg/Foo.app/Contents/Info.plist > /Applications/Foo.app/Contents/Info.plist && touch /Applications/Foo.app/victim && cp -a /Applications/Foo.app /Applications/Bar.app");
       runTool({"Sample.dmg", "Foo.app"}, withFault("TARNWELL_FAULT_RENAME=kill"));
       sh("chown 501 /Applications/Foo.app/Contents/MacOS && mkdir /Applications/Foo.app/Contents/MacOS/victim");
     },
     .args = {"Sample.dmg", "Foo.app", "Bar.app"},
     .lines = {"Kept /Applications/.tarnwell-staging.Foo.app.…/Foo.app: it is not the tool's to delete",
               "Kept /Applications/.tarnwell-staging.Foo.app.…/Foo.app/Contents/MacOS: it is not root's, or others may write to it",
               "The bundle at /Applications/Bar.app is not the one being installed (its identifier is \"com.example.victim\", not \"com.example.foo\"); it is kept at …"},
     .check = [](const Outcome&) { sh("ls /Applications/.tarnwell-staging.Foo.app.*/Foo.app/victim /Applications/.tarnwell-staging.Foo.app.*/Foo.app/Contents/MacOS/victim /Applications/.tarnwell-kept.Bar.app.*/victim >/dev/null"); }},
    // A descriptor kept for each child would run out among the packages.
    {.name = "FewDescriptorsForManyFiles",
     .setup = [] { sh("cd " + (sampleImage() / "Foo.app").string() + " && for i in $(seq 200); do echo > f$i; done"); },
     .args = [] { std::vector<std::string> args(33, "Bar.pkg"); args[0] = "Sample.dmg"; args[1] = args[2] = "Foo.app"; return args; }(),
     .lines = {"App Copied successfully", "App Copied successfully"}, .wrapper = under("ulimit -n 32;")},
    hiddenMark("read"),
    hiddenMark("clear"),
    {.name = "HiddenMarkOfMoreThanOneByte", .setup = [] { sh("f=" + (sampleImage() / "Foo.app").string() + " && setfattr -x " + kHiddenMark + " $f && setfattr -n user.hidden -v yes $f"); },
     .check = [](const Outcome& run) { EXPECT_FALSE(run.logged("App is hidden, Hence Unhid app")); }},
};

// Nothing runs from a base directory that others could change.
Road untrusted(const std::string& name, const std::string& change, const std::string& line, std::vector<std::string> wrapper = {}) {
  return {.name = name, .setup = [=] { sampleImage(); sh(change); }, .status = 1, .end = Attached, .lines = {line},
          .check = [](const Outcome& run) { ranNothing(3)(run); nothingInstalled(run); }, .wrapper = wrapper};
}

const std::string kUnsafe = "The base directory \"/Library/Tarnwell\" is not safe: ";

// The attach result, after the attach, is not the tool's own private file.
Road tampered(const std::string& name, const std::string& script, const std::string& why) {
  return {.name = name, .setup = [=] { sampleImage(); scenario("attach-script", script); }, .status = 1, .end = Attached,
          .lines = {kFailed + "Could not read \"" + kResult + "\": " + why}};
}

const std::vector<Road> kHostileBaseRoads = {
    untrusted("WritableByItsGroup", "chmod 775 /Library/Tarnwell", kUnsafe + "\"/Library/Tarnwell\" may be written by group or others"),
    untrusted("ADefaultAclLetsAUserWrite", kApple ? "setfattr -n user.standin.acl -v 'deny 4 allow 32' /Library/Tarnwell" : "setfacl -d -m u:501:rwx /Library/Tarnwell", kUnsafe + "\"/Library/Tarnwell\" has an access control list that lets others write to it"),
#if !defined(TARNWELL_APPLE_STANDINS)  // dyld's path is made real there: it has no link
    untrusted("ALinkOnTheWay", "ln -s Tarnwell /Library/Link", "The base directory \"/Library/Link\" is not safe: \"/Library/Link\" is a symbolic link",
              withFault("TARNWELL_FAULT_EXE=/Library/Link/Tools/bin/tarnwell")),
#endif
    untrusted("AStickyFolderAbove", "chmod 1777 /Library", kUnsafe + "\"/Library\" may be written by group or others"),
    untrusted("OwnedByAUser", "chown 501 /Library/Tarnwell", kUnsafe + "\"/Library/Tarnwell\" is owned by user 501, not root"),
    untrusted("TheLockIsAFolder", "mkdir /Library/Tarnwell/tarnwell.lock", "Could not lock \"/Library/Tarnwell/tarnwell.lock\": Is a directory"),
    {.name = "ResultIsALinkToAForgedAnswer",
     .setup = [] {
       sampleImage();
       writeText("/forged", entitiesPlist({"/Volumes/Forged"}));
       sh("mkdir -p /Volumes/Forged/Foo.app");
       scenario("attach-script", "rm " + kResult + " && ln -s /forged " + kResult);
     },
     .status = 1, .end = Attached, .lines = {kFailed + "Could not read \"" + kResult + "\": Too many levels of symbolic links"}, .check = nothingInstalled},
    tampered("ResultIsAFifo", "rm " + kResult + " && mkfifo " + kResult, "it is not a regular file"),
    tampered("ResultReplaced", "rm " + kResult + " && echo '" + entitiesPlist({"/Volumes/Sample"}) + "' > " + kResult, "it is not the file the tool made"),
    tampered("ResultOwnedByAUser", "chown 501 " + kResult, "it is owned by user 501"),
    tampered("ResultLinkedElsewhere", "ln " + kResult + " /standin/second", "it has 2 links"),
    tampered("ResultOthersMayWrite", "chmod 602 " + kResult, "others may write to it"),
    // Whatever the umask, over an old result others may write: the result is
    // private, and no user adds an answer after hdiutil's.
    {.name = "NoUserAddsAnAnswer",
     .setup = [] {
       answer(entitiesPlist({"/Volumes/Real"})); writeText("/standin/evil", entitiesPlist({"/Volumes/Evil"}));
       sh("cp -a " + kBase + "/Sample.dmg /Volumes/Real && mkdir -p /Volumes/Evil/Foo.app && touch " + kResult + " && chmod 666 " + kResult);
       scenario("attach-script", "cat /standin/scenario/attach-answer; setpriv --reuid=501 --regid=20 --clear-groups sh -c 'cat /standin/evil >> " + kResult + "'; exit 0");
     },
     .lines = {"mount-point : /Volumes/Real"}, .check = [](const Outcome&) { EXPECT_TRUE(fs::exists("/Applications/Foo.app/Contents")); }, .wrapper = under("umask 000;")},
};

// Under /Volumes/Deep, where the attach answer points: folder trees that
// the stand-in's cp would not copy.
void deepVolume(const std::function<void()>& make) {
  answer(entitiesPlist({"/Volumes/Deep"}));
  make();
  sh(kOldApp);
}

const std::vector<Road> kHostileImageRoads = {
    // hdiutil prints an image's licence before its answer: a plist in it is not the answer.
    {.name = "ALicenceHoldingAPlist",
     .setup = [] { sampleImage(); sh("mkdir -p /Volumes/Evil/Foo.app"); scenario("attach-script", "printf '%s\\n' '" + entitiesPlist({"/Volumes/Evil"}) + "'"); },
     .lines = {"mount-point : /Volumes/Sample", "App Copied successfully"},
     .check = [](const Outcome& run) { EXPECT_TRUE(fs::exists("/Applications/Foo.app/Contents")); EXPECT_FALSE(run.logged("mount-point : /Volumes/Evil")); }},
    // Owners and modes are not the image's to choose.
    {.name = "OwnersAndModes",
     .setup = [] { sh("cd " + (sampleImage() / "Foo.app/Contents").string() + " && mkdir -m 2775 shared && mkdir -m 1777 tmp && mkdir mine"
                      " && touch wide private && chmod 777 wide && chmod 600 private && chown -R 1234:1234 mine wide private shared"
                      " && setfattr -n user.com.apple.quarantine -v '0083;0;Safari;' wide"); },
     .lines = {"App Copied successfully"},
     .check = [](const Outcome& run) {
       EXPECT_TRUE(run.logged("Dropped the set-group-ID bit of \"/Volumes/Sample/Foo.app/Contents/shared\""));
       EXPECT_TRUE(run.logged("Dropped the sticky bit of \"/Volumes/Sample/Foo.app/Contents/tmp\""));
       // Anything not root's, writable by group or others, special, unreadable, or a folder not searchable by all.
       sh("test -z \"$(find /Applications/Foo.app ! -type l \\( ! -user 0 -o ! -group 0 -o -perm /7022 -o ! -perm -444"
          " -o -type d ! -perm -111 \\) -print)\" && test \"$(stat -c %a /Applications/Foo.app/Contents/wide)\" = 755"
          " && ! getfattr -n user.com.apple.quarantine /Applications/Foo.app/Contents/wide 2>/dev/null");
     }},
    {.name = "AVolumeNameAndAnItemForgeNoEntry",
     .setup = [] { sh("mkdir -p \"" + (sampleImage() / "E\x1b[31m\xc2\x9b\xff.app").string() + "\""); scenario("mount-point", "/Volumes/A\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry"); },
     .args = {"Sample.dmg", "E\x1b[31m\xc2\x9b\xff.app"},
     .lines = {"mount-point : /Volumes/A\\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry",
               "installAppsAndPkg(_:_:_:):Copying from appPath : /Volumes/A\\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry/E\\x1b[31m\\xc2\\x9b\\xff.app "
               "destinationPath :/Applications/E\\x1b[31m\\xc2\\x9b\\xff.app",
               "Given Command /bin/bash hdiutil detach -force \"/Volumes/A\\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry\""},
     .check = [](const Outcome& run) { EXPECT_FALSE(run.logged("Forged entry")); EXPECT_EQ(readText("/standin/tool.err").find_first_of("\x1b\xc2\xff"), std::string::npos); }},
    {.name = "DeeperThanTheLimit", .setup = [] { deepVolume([] { makeChain("/Volumes/Deep/Foo.app", 4096); }); }, .status = 1,
     .lines = {"App already exist , hence replacing", kCopyFailed + "Could not copy \"/Volumes/Deep/Foo.app/d/d/d/…/d/d\": it nests deeper than 4096 levels"}, .check = oldStays},
    // Faithful at any depth: hard links past PATH_MAX, no recursion on a
    // small stack, few descriptors for an old bundle deeper than their limit.
    {.name = "DeepUnderASmallStackAndFewDescriptors",
     .setup = [] {
       deepVolume([] { makeChain("/Volumes/Deep/Foo.app", 3000); }); sh("rm -rf /Applications/Foo.app"); makeChain("/Applications/Foo.app", 200);
       sh("for a in /Volumes/Deep /Applications; do mkdir $a/Foo.app/Contents && cp " + kBase + "/Sample.dmg/Foo.app/Contents/Info.plist $a/Foo.app/Contents; done");
     },
     .lines = {"App already exist , hence replacing", "App Copied successfully"},
     .check = [](const Outcome&) { EXPECT_EQ(chainBottom("/Applications/Foo.app", 3000, "a").st_ino, chainBottom("/Applications/Foo.app", 2999, "b").st_ino); expectOnly({"Foo.app"}); },
     .wrapper = under("ulimit -s 256; ulimit -n 48;")},
    // Long names, set-user-ID bits and attributes the system refuses (EACCES), on many entries: a few short lines.
    {.name = "FloodsOfNamesBitsAndAttributes",
     .setup = [] { sh("cd " + sampleImage().string() + " && seq -f %0200.0f 3000 | xargs touch && cd Foo.app && for i in $(seq 40); do touch s$i && chmod 4755 s$i"
                      " && setfattr -n user.com.apple.provenance -v x s$i; done"); },
     .lines = {"Files list in the volume : [\"…\n files count 3002", "Dropped the set-user-ID bit of 41 entries of \"/Volumes/Sample/Foo.app\", among them [\"…\"]", "App Copied successfully"},
     .check = [](const Outcome& run) {
       EXPECT_LT(run.log.size(), 20u);
       for (const std::string& entry : run.log) EXPECT_LT(entry.size(), 65536u);
       EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(), [](const std::string& entry) {
                   return matches(entry, "Skipped the attribute com.apple.provenance of 40 entries of \"/Applications/.tarnwell-staging.Foo.app.…\"]: Permission denied"); }), 1);
     },
     .wrapper = withFault("TARNWELL_FAULT_XATTR=deny")},
    {.name = "AFileSwappedForAFifoAfterTheListing", .setup = [] { sampleImage(); sh(kOldApp); }, .status = 1,
     .lines = {kCopyFailed + "Could not copy \"/Volumes/Sample/Foo.app/Contents/Versions/A/random\": it was replaced while being copied"},
     .check = oldStays, .wrapper = withFault("TARNWELL_FAULT_FIFO=random")},
};

// Children that hold on or flood: the tool is held by neither, and what
// they write is kept bounded.
const std::vector<Road> kHostileChildrenRoads = {
    // A runner that waited for the pipe's end would hang past ctest's time-out.
    {.name = "DaemonHoldsTheAttachPipe", .setup = [] { sampleImage(); scenario("attach-script", "(sleep 600 &)"); }, .args = {"Sample.dmg", "Bar.pkg"},
     .check = [](const Outcome&) { sh("pkill -f 'sleep 60[0]'"); }},
    {.name = "AttachChattersThreeHundredMegabytes",
     .setup = [] { sampleImage(); scenario("attach-script", "head -c 300000000 /dev/zero | tr '\\0' x >&2"); }, .args = {"Sample.dmg", "Bar.pkg"},
     .lines = {"terminationStatus : 0 output : xxx… [299868928 bytes of output left out] " + std::string(65536, 'x')},
     .check = [](const Outcome& run) { for (const std::string& entry : run.log) EXPECT_LT(entry.size(), 140000u); },
#if !defined(TARNWELL_SANITIZED)  // the sanitizers reserve more address space than this
     .wrapper = under("ulimit -v 300000;")
#endif
    },
};

// clang-format on

class Roads : public testing::TestWithParam<Road> {};

TEST_P(Roads, EndAsTheyShould) {
  REQUIRE_SANDBOX();
  const Road& road = GetParam();
  road.setup();
  Outcome run = runTool(road.args, road.wrapper, road.base);
  EXPECT_EQ(run.status, road.status);
  auto at = run.log.begin();
  for (const std::string& line : road.lines) {
    at = std::find_if(at, run.log.end(), [&](const std::string& entry) { return matches(entry, line); });
    EXPECT_NE(at, run.log.end()) << "not logged in this order: " << line;
    if (at != run.log.end()) ++at;
  }
  EXPECT_EQ(run.detached(), road.end == Cleaned);
  EXPECT_EQ(fs::exists(road.base + "/qxmount.plist"), road.end == Kept);
  road.check(run);
}

auto rowName = [](const auto& info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Status, Roads, testing::ValuesIn(kStatusRoads), rowName);
INSTANTIATE_TEST_SUITE_P(AttachResult, Roads, testing::ValuesIn(kAttachResultRoads), rowName);
INSTANTIATE_TEST_SUITE_P(Items, Roads, testing::ValuesIn(kItemRoads), rowName);
INSTANTIATE_TEST_SUITE_P(Processor, Roads, testing::ValuesIn(kProcessorRoads), rowName);
INSTANTIATE_TEST_SUITE_P(Copy, Roads, testing::ValuesIn(kCopyRoads), rowName);
INSTANTIATE_TEST_SUITE_P(HostileBase, Roads, testing::ValuesIn(kHostileBaseRoads), rowName);
INSTANTIATE_TEST_SUITE_P(HostileImage, Roads, testing::ValuesIn(kHostileImageRoads), rowName);
INSTANTIATE_TEST_SUITE_P(HostileChildren, Roads, testing::ValuesIn(kHostileChildrenRoads), rowName);

}  // namespace
