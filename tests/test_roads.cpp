// Whole runs of the real binary, one row per road: every row of the
// exit-status table, each failure after the attach, and the faults a
// careful user would meet.

#include "harness.h"

#include <functional>

#include <sys/stat.h>

using namespace tarnwell::test;

namespace {

const std::string kMount = "Mount cmd ->echo YES | hdiutil attach -nobrowse -plist ";
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
  std::function<void()> setup;
  std::vector<std::string> args;
  int status;
  End end;
  std::vector<std::string> lines;  // in this order, other lines between
  std::function<void(const Outcome&)> check = [](const Outcome&) {};
  std::vector<std::string> wrapper = {};
  std::string base = kBase;
};

void answer(const std::string& plist) {
  sampleImage();
  scenario("attach-answer", plist);
}

// A failure after the attach: the result file goes, the volume stays.
Road afterAttach(const std::string& name, const std::string& plist, std::vector<std::string> lines) {
  return {name, [=] { answer(plist); }, {"Sample.dmg", "Foo.app"}, 1, Attached, lines};
}

void expectOnly(const std::vector<std::string>& applications, const std::string& version = "") {
  EXPECT_EQ(names("/Applications"), applications);
  if (!version.empty()) EXPECT_EQ(readText("/Applications/Foo.app/version"), version);
}

bool loggedStart(const Outcome& run, const std::string& start, const std::string& end = "") {
  return std::any_of(run.log.begin(), run.log.end(), [&](const std::string& line) { return line.starts_with(start) && line.ends_with(end); });
}

void installerDirectly(const Outcome& run) {
  EXPECT_TRUE(run.callsOf("arch").empty());
  ASSERT_EQ(run.callsOf("installer").size(), 1u);
  EXPECT_EQ(run.callsOf("installer")[0].args, (std::vector<std::string>{"-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
}

Road processor(const std::string& name, const std::string& output, const std::string& status, const std::string& line) {
  return {name, [=] { sampleImage(), scenario("sysctl-output", output), scenario("sysctl-status", status); },
          {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {line}, installerDirectly};
}

Road hiddenMark(const std::string& fault) {
  std::string wrapper = "TARNWELL_FAULT_XATTR=" + fault + " LD_PRELOAD=" + TARNWELL_FAULT_LIBRARY +
                        " ASAN_OPTIONS=verify_asan_link_order=0 exec \"$0\" \"$@\"";
  return {"HiddenMarkCannotBe" + fault, [] { sampleImage(); }, {"Sample.dmg", "Foo.app", "Bar.pkg"}, 1, Attached,
          {std::string(" checkAndUnhideApp : Getting/Setting App attributes Failed!!!!! Could not ") +
           (fault == "read" ? "read" : "change") + " the hidden mark of \"/Applications/Foo.app\": Input/output error"},
          [=](const Outcome& run) {
            EXPECT_EQ(run.logged("App is hidden, Hence Unhid app"), fault == "clear");
            EXPECT_TRUE(run.callsOf("installer").empty());
            EXPECT_EQ(names("/Volumes"), std::vector<std::string>{"Sample"});
          },
          {"/bin/sh", "-c", wrapper}};
}

Road unsupported(const std::string& name, const std::string& item) {
  return {name, [] { sampleImage(), sh("mkdir -p /etc/Evil.app /Library/Tarnwell/Sample.dmg/Foo.APP && touch /etc/Evil.app/keep /Library/Tarnwell/Sample.dmg/readme.txt"); },
          {"Sample.dmg", item}, 1, Cleaned, {"Not handled " + item},
          [](const Outcome&) { expectOnly({}); EXPECT_TRUE(fs::exists("/etc/Evil.app/keep")); }};
}

Road linked(const std::string& name, const std::string& target) {
  return {name.substr(0, name.find('.')) + "IsALink", [=] { fs::create_directory_symlink(target, sampleImage() / name); }, {"Sample.dmg", name}, 1, Cleaned,
          {kCopyFailed + "Could not copy \"/Volumes/Sample/" + name + "\": it is a symbolic link, not a bundle"},
          [](const Outcome&) { expectOnly({}); }};
}

// Every character a shell acts on, in every name that reaches a shell.
const std::string kShellCharacters = "$(touch /tmp/owned)`touch /tmp/owned`;touch /tmp/owned|&<>*?[a]{b,c}~#!=% \t\n'\"\\$HOME";
const std::string kHostileImage = "x" + kShellCharacters + ".dmg";
const std::string kHostilePackage = "p" + kShellCharacters + ".pkg";
const std::string kHostileVolume = "/Volumes/M" + kShellCharacters;
const std::string kHostileBase = "/Library/T" + kShellCharacters;

const std::vector<Road> kRoads = {
    {"NoArguments", [] {}, {}, 1, Attached, {"Base Path " + kBase, "Arguments are low"},
     [](const Outcome& run) { EXPECT_EQ(run.log.size(), 2u); EXPECT_TRUE(run.calls.empty()); }},
    {"OneArgument", [] {}, {"Sample.dmg"}, 1, Attached, {"Base Path " + kBase, "Arguments are low"},
     [](const Outcome& run) { EXPECT_EQ(run.log.size(), 2u); EXPECT_TRUE(run.calls.empty()); }},
    {"AttachFails", [] { sampleImage("Sample Disk.dmg"), scenario("attach-status", "1"); }, {"Sample Disk.dmg", "Foo.app"}, 26, Kept,
     {kMount + kBase + "/Sample\\ Disk.dmg>" + kResult, "terminationStatus : 1 output : hdiutil: attach failed - not recognized\\n",
      "Error in mounting Sample Disk.dmg"},
     [](const Outcome& run) {
       EXPECT_EQ(run.log.back(), "Error in mounting Sample Disk.dmg");
       EXPECT_EQ(run.callsOf("hdiutil").at(0).args.back(), kBase + "/Sample Disk.dmg");
     }},
    {"ImageMissing", [] {}, {"/Absent.dmg", "Foo.app"}, 26, Kept, {"Error in mounting /Absent.dmg"},
     [](const Outcome& run) { EXPECT_EQ(run.callsOf("hdiutil").at(0).args.back(), kBase + "/Absent.dmg"); }},
    {"ResultMissingAfterAttach", [] { sampleImage(), scenario("attach-script", "rm " + kResult); }, {"Sample.dmg", "Foo.app"}, 1, Attached, {"qxmount.plist is not available"}},
    afterAttach("NotAPropertyList", "hdiutil: this is not a property list\n",
                {kFailed + "Could not read \"" + kResult + "\" as a property list: the data is not an XML or binary property list"}),
    afterAttach("RootIsAnArray", "<plist><array/></plist>", {"terminationStatus : 0 output : ", kNoRows}),
    afterAttach("NoEntities", entitiesPlist({}), {kNoRows}),
    afterAttach("NoMountPointKeys", entitiesPlist({"-", "-", "-"}), {"Array count in systemEntities 3", kNoKey}),
    afterAttach("EmptyMountPoints", entitiesPlist({"", "-", ""}), {"mount-point : ", kUnusable, "mount-point : ", kUnusable}),
    afterAttach("MountPointIsRoot", entitiesPlist({"/", "/./"}), {"mount-point : /", kUnusable, "mount-point : /./", kUnusable}),
    afterAttach("MountPointIsRelative", entitiesPlist({"Volumes/Sample", "/Volumes/../"}),
                {"mount-point : Volumes/Sample", kUnusable, "mount-point : /Volumes/../", kUnusable}),
    afterAttach("VolumeGone", entitiesPlist({"/Volumes/Gone"}),
                {"mount-point : /Volumes/Gone", kFailed + "Could not list the contents of \"/Volumes/Gone\": No such file or directory"}),
    {"UnusableThenUsableMountPoint",
     [] { answer(entitiesPlist({"", "/Volumes/Real", "/Volumes/Second"})), sh("cp -a /Library/Tarnwell/Sample.dmg /Volumes/Real"); },
     {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {"Array count in systemEntities 3", "mount-point : ", kUnusable, "mount-point : /Volumes/Real"},
     [](const Outcome& run) {
       EXPECT_FALSE(run.logged("mount-point : /Volumes/Second"));
       EXPECT_EQ(run.callsOf("hdiutil").back().args.back(), "/Volumes/Real");
     }},
    {"EmptyVolumeAndAMissingItem", [] { fs::create_directories(kBase + "/Empty.dmg"); }, {"Empty.dmg", "Nothing.pkg"}, 1, Cleaned,
     {"Files list in the volume : []\n files count 0", "intallfile : Nothing.pkg not found"}},
    {"SecondOfThreeItemsFails", [] { fs::create_directories(sampleImage() / "Third.app"), scenario("installer-status", "1"); },
     {"Sample.dmg", "Foo.app", "Bar.pkg", "Third.app"}, 1, Cleaned,
     {"App Copied successfully", "launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 1",
      "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed "},
     [](const Outcome&) { expectOnly({"Foo.app"}); }},
    unsupported("CaseOfTheEnding", "Foo.APP"),
    unsupported("NeitherAppNorPkg", "readme.txt"),
    unsupported("ClimbsOut", "../../../etc/Evil.app"),
    unsupported("ClimbsOutInside", "Foo.app/../../Sample.dmg/Foo.app"),
    {"DetachFails", [] { sampleImage(), scenario("detach-status", "16"); }, {"Sample.dmg", "Bar.pkg"}, 0, Cleaned,
     {"Error in unmount /Volumes/Sample"}, [](const Outcome& run) { EXPECT_EQ(run.log.back(), "Error in unmount /Volumes/Sample"); }},
    {"ResultGoneBeforeCleanUp", [] { sampleImage(), scenario("installer-script", "rm " + kResult); }, {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {"Error in deleting the plist", "Given Command /bin/bash hdiutil detach -force \"/Volumes/Sample\""}},
    {"ShellCharactersRunNothing",
     [] {
       writeText(kHostileBase + "/" + kHostileImage + "/" + kHostilePackage, "xar!");
       scenario("mount-point", kHostileVolume), scenario("sysctl-output", "Apple M1\n");
     },
     {kHostileImage, kHostilePackage}, 0, Cleaned, {}, [](const Outcome& run) {
       EXPECT_FALSE(fs::exists("/tmp/owned"));
       EXPECT_EQ(run.callsOf("hdiutil").at(0).args.back(), kHostileBase + "/" + kHostileImage);
       EXPECT_EQ(run.callsOf("hdiutil").at(1).args, (std::vector<std::string>{"detach", "-force", kHostileVolume}));
       EXPECT_EQ(run.callsOf("installer").at(0).args, (std::vector<std::string>{"-pkg", kHostileVolume + "/" + kHostilePackage, "-target", "/"}));
     }, {}, kHostileBase},
    {"QuotesBackslashesAndPercentsInTheLog",
     [] { sh("mkdir -p \"" + kBase + "/My Disk.dmg/It's \\\"Q\\\" \\\\ %s%n App.app\" && setfattr -n user.hidden -v 0 " + kBase + "/My\\ Disk.dmg/*"); },
     {"My Disk.dmg", "It's \"Q\" \\ %s%n App.app", ""}, 1, Cleaned,
     {"Given Args dmgName:My Disk.dmg,\nargArray :[\"It\\'s \\\"Q\\\" \\\\ %s%n App.app\", \"\"]", kMount + kBase + "/My\\ Disk.dmg>" + kResult,
      "App Copied successfully", "Not handled "},
     [](const Outcome& run) { expectOnly({"It's \"Q\" \\ %s%n App.app"}); EXPECT_FALSE(run.logged("App is hidden, Hence Unhid app")); }},
    {"EmptyImageName", [] { sampleImage(); }, {"", "Foo.app"}, 26, Kept, {"Error in mounting "}},
    {"FewDescriptorsForManyFiles", [] { sh("cd " + (sampleImage() / "Foo.app").string() + " && for i in $(seq 200); do echo > f$i; done"); },
     {"Sample.dmg", "Foo.app", "Foo.app"}, 0, Cleaned, {"App Copied successfully", "App Copied successfully"}, [](const Outcome&) {},
     {"/bin/sh", "-c", "ulimit -n 32; exec \"$0\" \"$@\""}},
    {"AppleProcessorGoesThroughArchEachTime", [] { sampleImage(), scenario("sysctl-output", "Apple M2 Max\n"); }, {"Sample.dmg", "Bar.pkg", "Bar.pkg"}, 0, Cleaned,
     {"launchProcess(atPath:withArgs:_:timeout:):Given launchPath:/bin/sh, withArgs:[\"-c\", \"arch -arch arm64 installer -pkg "
      "\\\"/Volumes/Sample/Bar.pkg\\\" -target /\"], inDirectory:/, timeoutIn:3600seconds"},
     [](const Outcome& run) {
       EXPECT_EQ(run.callsOf("arch").at(0).args,
                 (std::vector<std::string>{"-arch", "arm64", "installer", "-pkg", "/Volumes/Sample/Bar.pkg", "-target", "/"}));
       EXPECT_EQ(run.callsOf("installer").at(0).directory, "/");
       EXPECT_EQ(run.callsOf("sysctl").size(), 2u);
       EXPECT_EQ(run.callsOf("arch").size(), 2u);
     }},
    processor("LowerCaseApple", "apple m1\n", "0", "isSiliconMachine returnCode 0 Output \"apple m1\\n\""),
    processor("SysctlFailsSayingApple", "sysctl: Apple key missing\n", "1",
              "isSiliconMachine returnCode 1 Output \"sysctl: Apple key missing\\n\""),
    processor("SysctlOutputNotUtf8", "Intel\xff\xed\xa0\x80\n", "0", "isSiliconMachine returnCode 0 Output \"Intel\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\\n\""),
    {"SysctlMissing", [] { sampleImage(), fs::remove("/usr/sbin/sysctl"); }, {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {},
     [](const Outcome& run) { installerDirectly(run); EXPECT_TRUE(loggedStart(run, "isSiliconMachine returnCode 127 Output \"")); }},
    hiddenMark("read"),
    hiddenMark("clear"),
    {"InstallerKilled", [] { sampleImage(), scenario("installer-script", "kill -KILL $$"); }, {"Sample.dmg", "Bar.pkg"}, 1, Cleaned,
     {"launchProcess(atPath:withArgs:_:timeout:) : ExecutionStatus : 9",
      "installAppsAndPkg(_:_:_:):Installing pkg : /Volumes/Sample/Bar.pkg -> failed "}},
    // A runner that waited for the pipe's end would hang past ctest's time-out.
    {"DaemonHoldsTheAttachPipe", [] { sampleImage(), scenario("attach-script", "(sleep 600 &)"); }, {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {},
     [](const Outcome&) { sh("pkill -f 'sleep 60[0]'"); }},
    {"ApplicationsMissing", [] { sampleImage(), fs::remove("/Applications"); }, {"Sample.dmg", "Foo.app"}, 1, Cleaned,
     {kCopyFailed + "Could not open \"/Applications\": No such file or directory"}},
    {"ApplicationsReadOnly", [] { sampleImage(), sh("mount -t tmpfs tmpfs /Applications && " + kOldApp + " && mount -o remount,ro /Applications"); },
     {"Sample.dmg", "Foo.app"}, 1, Cleaned, {"App already exist , hence replacing"},
     [](const Outcome& run) { EXPECT_TRUE(loggedStart(run, kCopyFailed + "Could not create", "Read-only file system")); expectOnly({"Foo.app"}, "old\n"); }},
    {"DiskFullKeepsTheOldBundle",
     [] { sh("head -c 3000000 /dev/urandom > " + (sampleImage() / "Foo.app/big").string() + " && mount -t tmpfs -o size=1m tmpfs /Applications && " + kOldApp); },
     {"Sample.dmg", "Foo.app", "Bar.pkg"}, 1, Cleaned,
     {"App already exist , hence replacing",
      "installAppsAndPkg(_:_:_:):Copying from appPath : /Volumes/Sample/Foo.app destinationPath : /Applications/Foo.app->failed"},
     [](const Outcome& run) { EXPECT_TRUE(loggedStart(run, kCopyFailed, "No space left on device")); expectOnly({"Foo.app"}, "old\n"); }},
    {"FileTooLargeKeepsTheOldBundle",
     [] {
       answer(entitiesPlist({"/Volumes/Big"}));
       sh("cp -a /Library/Tarnwell/Sample.dmg /Volumes/Big && head -c 3000000 /dev/zero > /Volumes/Big/Foo.app/big && " + kOldApp);
     },
     {"Sample.dmg", "Foo.app"}, 1, Cleaned, {"App already exist , hence replacing"},
     [](const Outcome& run) { EXPECT_TRUE(loggedStart(run, kCopyFailed, "File too large")); expectOnly({"Foo.app"}, "old\n"); },
     {"/bin/sh", "-c", "ulimit -f 1024; exec \"$0\" \"$@\""}},
    {"LineBreakInAFileNameForgesNothing", [] { sh("mkfifo '" + (sampleImage() / "Foo.app/x\nApp Copied successfully").string() + "'"); },
     {"Sample.dmg", "Foo.app"}, 1, Cleaned, {},
     [](const Outcome& run) {
       EXPECT_FALSE(run.logged("App Copied successfully"));
       EXPECT_TRUE(loggedStart(run, kCopyFailed + "Could not copy \"/Volumes/Sample/Foo.app/x\\nApp Copied successfully\""));
       expectOnly({});
     }},
    linked("Link.app", "Foo.app"),
    linked("Root.app", "/"),
    {"NestedItemThroughALinkInApplications", [] { sh("mkdir -p /victim " + kBase + "/Sample.dmg/Dir/In.app && ln -s /victim /Applications/Dir"); },
     {"Sample.dmg", "Dir/In.app"}, 1, Cleaned, {kCopyFailed + "Could not open \"/Applications/Dir\": Not a directory"},
     [](const Outcome&) { EXPECT_TRUE(fs::is_empty("/victim")); }},
    {"ReplacesALinkLeavingItsTarget", [] { sampleImage(), sh("mkdir /Elsewhere && echo kept > /Elsewhere/version && ln -s /Elsewhere /Applications/Foo.app"); },
     {"Sample.dmg", "Foo.app"}, 0, Cleaned, {"App already exist , hence replacing", "App Copied successfully"},
     [](const Outcome&) { EXPECT_TRUE(fs::exists("/Applications/Foo.app/Contents/MacOS/Foo")); expectOnly({"Foo.app"}); EXPECT_EQ(readText("/Elsewhere/version"), "kept\n"); }},
    // Only what a run that is gone left: marked by the tool (a mark only
    // root can set), private, not locked by a live run. F is another
    // root-owned private folder renamed to a staging name; G is live.
    {"OnlyItsOwnLeftoversGo",
     [] {
       sampleImage();
       sh("cd /Applications && for s in AAAAAAAA BBBBBBBB CCCCCCCC DDDDDDDD EEEEEEEE FFFFFFFF GGGGGGGG; do mkdir -m 700 .tarnwell-staging.Foo.app.$s"
          " && setfattr -n user.com.tarnwell.staging -v $s .tarnwell-staging.Foo.app.$s; done && setfattr -x user.com.tarnwell.staging"
          " .tarnwell-staging.Foo.app.FFFFFFFF && setfattr -n user.com.tarnwell.staging -v AAAAAAAA .tarnwell-staging.Foo.app.EEEEEEEE"
          " && mv .tarnwell-staging.Foo.app.DDDDDDDD .tarnwell-staging.Other.app.DDDDDDDD && mkdir -p .tarnwell-staging.Foo.app.AAAAAAAA/x/y"
          " && touch .tarnwell-staging.Foo.app.AAAAAAAA/x/y/z && chown 501 .tarnwell-staging.Foo.app.BBBBBBBB && chmod 755 .tarnwell-staging.Foo.app.CCCCCCCC"
          " && (flock .tarnwell-staging.Foo.app.GGGGGGGG/.tarnwell-lock sleep 30 >/dev/null 2>&1 &) && sleep 0.2");
     },
     {"Sample.dmg", "Foo.app"}, 0, Cleaned, {"Removed /Applications/.tarnwell-staging.Foo.app.AAAAAAAA, left by an interrupted run"},
     [](const Outcome&) {
       expectOnly({".tarnwell-staging.Foo.app.BBBBBBBB", ".tarnwell-staging.Foo.app.CCCCCCCC", ".tarnwell-staging.Foo.app.EEEEEEEE",
                   ".tarnwell-staging.Foo.app.FFFFFFFF", ".tarnwell-staging.Foo.app.GGGGGGGG", ".tarnwell-staging.Other.app.DDDDDDDD", "Foo.app"});
       sh("pkill -f 'sleep 3[0]'");
     }},
    {"ResultFileIsADirectory", [] { sampleImage(), scenario("attach-script", "rm " + kResult + "; mkdir " + kResult); },
     {"Sample.dmg", "Foo.app"}, 1, Kept, {kFailed + "Could not read \"" + kResult + "\": Is a directory", "Error in deleting the plist"},
     [](const Outcome&) { EXPECT_TRUE(fs::is_directory(kResult)); }},
    {"StartedThroughALink", [] { sampleImage(); }, {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {"Base Path " + kBase},
     [](const Outcome& run) { EXPECT_EQ(run.log.front(), "Base Path " + kBase); },
     {"/bin/sh", "-c", "ln -s \"$0\" /usr/local/bin/tw && exec /usr/local/bin/tw \"$@\""}},
    {"NamesOfFourThousandCharacters", [] { sampleImage(); }, {"Sample.dmg", "Foo.app", std::string(3996, 'a') + ".app"}, 1, Cleaned,
     {"App Copied successfully", "intallfile : " + std::string(3996, 'a') + ".app not found"}},
    {"StandardDescriptorsClosed",
     [] { sampleImage(), writeText("/usr/sbin/installer", "#!/bin/sh\nreadlink /proc/$PPID/fd/2 > /standin/tool-stderr\n"); },
     {"Sample.dmg", "Foo.app", "Bar.pkg"}, 0, Cleaned, {},
     [](const Outcome& run) {
       EXPECT_TRUE(run.log.empty());
       EXPECT_EQ(readText("/standin/tool-stderr"), "/dev/null\n") << "the log goes wherever the tool's stderr leads";
       EXPECT_EQ(readText("/Applications/Foo.app/Contents/MacOS/Foo"), "#!/bin/sh\necho foo\n");
     },
     {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-"}},
#if !defined(TARNWELL_SANITIZED)  // valgrind cannot run a sanitized binary
    {"MemcheckFindsNothing", [] { sampleImage(); }, {"Sample.dmg", "Foo.app", "Bar.pkg"}, 0, Cleaned, {"App Copied successfully"},
     [](const Outcome&) { EXPECT_NE(readText("/standin/valgrind").find("ERROR SUMMARY: 0 errors"), std::string::npos); },
     {"valgrind", "--error-exitcode=99", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect", "--log-file=/standin/valgrind"}},
#endif
};

// Nothing runs from a base directory that others could change.
Road untrusted(const std::string& name, const std::string& change, const std::string& line) {
  return {name, [=] { sampleImage(), sh(change); }, {"Sample.dmg", "Foo.app"}, 1, Attached, {line},
          [](const Outcome& run) { EXPECT_EQ(run.log.size(), 3u); EXPECT_TRUE(run.calls.empty()); expectOnly({}); }};
}

const std::string kUnsafe = "The base directory \"/Library/Tarnwell\" is not safe: ";

const std::vector<Road> kHostileBaseRoads = {
    untrusted("WritableByOthers", "chmod 777 /Library/Tarnwell", kUnsafe + "\"/Library/Tarnwell\" may be written by group or others"),
    untrusted("AStickyFolderAbove", "chmod 1777 /Library", kUnsafe + "\"/Library\" may be written by group or others"),
    untrusted("OwnedByAUser", "chown 501 /Library/Tarnwell", kUnsafe + "\"/Library/Tarnwell\" is owned by user 501, not root"),
    untrusted("TheLockIsAFolder", "mkdir /Library/Tarnwell/tarnwell.lock",
              "Could not lock \"/Library/Tarnwell/tarnwell.lock\": Is a directory"),
    {"ResultIsALinkToAForgedAnswer",
     [] {
       sampleImage(), writeText("/forged", entitiesPlist({"/Volumes/Forged"})), sh("mkdir -p /Volumes/Forged/Foo.app");
       scenario("attach-script", "rm " + kResult + " && ln -s /forged " + kResult);
     },
     {"Sample.dmg", "Foo.app"}, 1, Attached, {kFailed + "Could not read \"" + kResult + "\": Too many levels of symbolic links"},
     [](const Outcome&) { expectOnly({}); }},
    {"ResultIsAFifo", [] { sampleImage(), scenario("attach-script", "rm " + kResult + " && mkfifo " + kResult); },
     {"Sample.dmg", "Foo.app"}, 1, Attached, {kFailed + "Could not read \"" + kResult + "\": it is not a regular file"}},
};

// Under /Volumes/Deep, where the attach answer points: folder trees that
// the stand-in's cp would not copy.
void deepVolume(const std::function<void()>& make) {
  answer(entitiesPlist({"/Volumes/Deep"}));
  make();
  sh(kOldApp);
}

const std::vector<std::string> kSmallStack = {"/bin/sh", "-c", "ulimit -s 256; ulimit -n 48; exec \"$0\" \"$@\""};

const std::vector<Road> kHostileImageRoads = {
    // Owners and modes are not the image's to choose.
    {"OwnersAndModes",
     [] {
       sh("cd " + (sampleImage() / "Foo.app/Contents").string() + " && mkdir -m 2775 shared && mkdir -m 1777 tmp && mkdir mine"
          " && touch wide private && chmod 777 wide && chmod 600 private && chown -R 1234:1234 mine wide private shared");
     },
     {"Sample.dmg", "Foo.app"}, 0, Cleaned, {"App Copied successfully"},
     [](const Outcome& run) {
       EXPECT_TRUE(run.logged("Dropped the set-group-ID bit of \"/Volumes/Sample/Foo.app/Contents/shared\""));
       EXPECT_TRUE(run.logged("Dropped the sticky bit of \"/Volumes/Sample/Foo.app/Contents/tmp\""));
       // Anything not root's, writable by group or others, special, unreadable, or a folder not searchable by all.
       sh("test -z \"$(find /Applications/Foo.app ! -type l \\( ! -user 0 -o ! -group 0 -o -perm /7022 -o ! -perm -444"
          " -o -type d ! -perm -111 \\) -print)\" && test \"$(stat -c %a /Applications/Foo.app/Contents/wide)\" = 755");
     }},
    {"AVolumeNameAndAnItemForgeNoEntry",
     [] {
       sh("mkdir -p \"" + (sampleImage() / "E\x1b[31m\xff.app").string() + "\"");
       scenario("mount-point", "/Volumes/A\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry");
     },
     {"Sample.dmg", "E\x1b[31m\xff.app"}, 0, Cleaned,
     {"mount-point : /Volumes/A\\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry",
      "installAppsAndPkg(_:_:_:):Copying from appPath : /Volumes/A\\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry/E\\x1b[31m\\xff.app "
      "destinationPath :/Applications/E\\x1b[31m\\xff.app",
      "Given Command /bin/bash hdiutil detach -force \"/Volumes/A\\n2026-12-06 07:27:43.859 tarnwell[1:1] Forged entry\""},
     [](const Outcome& run) {
       EXPECT_FALSE(run.logged("Forged entry"));
       EXPECT_EQ(readText("/standin/tool.err").find_first_of("\x1b\xff"), std::string::npos);
     }},
    {"DeeperThanTheLimit", [] { deepVolume([] { makeChain("/Volumes/Deep/Foo.app", 4096); }); }, {"Sample.dmg", "Foo.app"}, 1, Cleaned,
     {"App already exist , hence replacing"},
     [](const Outcome& run) {
       EXPECT_TRUE(loggedStart(run, kCopyFailed + "Could not copy \"/Volumes/Deep/Foo.app/d/d/d/", "/d/d\": it nests deeper than 4096 levels"));
       expectOnly({"Foo.app"}, "old\n");
     }},
    // Faithful at any depth: hard links past PATH_MAX, no recursion on a
    // small stack, few descriptors for an old bundle deeper than their limit.
    {"DeepUnderASmallStackAndFewDescriptors",
     [] {
       deepVolume([] { makeChain("/Volumes/Deep/Foo.app", 3000); });
       sh("rm -rf /Applications/Foo.app"), makeChain("/Applications/Foo.app", 200);
     },
     {"Sample.dmg", "Foo.app"}, 0, Cleaned, {"App already exist , hence replacing", "App Copied successfully"},
     [](const Outcome&) {
       EXPECT_EQ(chainBottom("/Applications/Foo.app", 3000, "a").st_ino, chainBottom("/Applications/Foo.app", 2999, "b").st_ino);
       expectOnly({"Foo.app"});
     },
     kSmallStack},
    {"AFileSwappedForAFifoAfterTheListing", [] { sampleImage(), sh(kOldApp); }, {"Sample.dmg", "Foo.app"}, 1, Cleaned,
     {kCopyFailed + "Could not copy \"/Volumes/Sample/Foo.app/Contents/Versions/A/random\": it was replaced while being copied"},
     [](const Outcome&) { expectOnly({"Foo.app"}, "old\n"); },
     {"/bin/sh", "-c", std::string("TARNWELL_FAULT_FIFO=random LD_PRELOAD=") + TARNWELL_FAULT_LIBRARY +
                           " ASAN_OPTIONS=verify_asan_link_order=0 exec \"$0\" \"$@\""}},
};

// A child that floods: its output is kept bounded, and so is the tool.
const std::vector<Road> kHostileChildrenRoads = {
    {"AttachChattersThreeHundredMegabytes",
     [] { sampleImage(), scenario("attach-script", "head -c 300000000 /dev/zero | tr '\\0' x >&2"); }, {"Sample.dmg", "Bar.pkg"}, 0, Cleaned, {},
     [](const Outcome& run) {
       EXPECT_TRUE(loggedStart(run, "terminationStatus : 0 output : xxx", "\n(299868928 bytes of output left out)\n" + std::string(65536, 'x')));
       for (const std::string& entry : run.log) EXPECT_LT(entry.size(), 140000u);
     },
#if !defined(TARNWELL_SANITIZED)  // the sanitizers reserve more address space than this
     {"/bin/sh", "-c", "ulimit -v 300000; exec \"$0\" \"$@\""}
#endif
    },
};

class Roads : public testing::TestWithParam<Road> {};

TEST_P(Roads, EndAsTheyShould) {
  REQUIRE_SANDBOX();
  const Road& road = GetParam();
  road.setup();
  Outcome run = runTool(road.args, road.wrapper, road.base);
  EXPECT_EQ(run.status, road.status);
  auto at = run.log.begin();
  for (const std::string& line : road.lines) {
    at = std::find(at, run.log.end(), line);
    EXPECT_NE(at, run.log.end()) << "not logged in this order: " << line;
    if (at != run.log.end()) ++at;
  }
  EXPECT_EQ(run.detached(), road.end == Cleaned);
  EXPECT_EQ(fs::exists(road.base + "/qxmount.plist"), road.end == Kept);
  road.check(run);
}

auto rowName = [](const auto& info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Tool, Roads, testing::ValuesIn(kRoads), rowName);
INSTANTIATE_TEST_SUITE_P(HostileBase, Roads, testing::ValuesIn(kHostileBaseRoads), rowName);
INSTANTIATE_TEST_SUITE_P(HostileImage, Roads, testing::ValuesIn(kHostileImageRoads), rowName);
INSTANTIATE_TEST_SUITE_P(HostileChildren, Roads, testing::ValuesIn(kHostileChildrenRoads), rowName);

}  // namespace
