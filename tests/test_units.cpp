// What a whole run cannot reach or cannot see: rendering details, the
// property-list bounds, status texts, runners fed more than the system
// commands ever write, and time limits that would take an hour.

#include "harness.h"
#include "main/base_path.h"
#include "platform/log.h"
#include "platform/path.h"
#include "plist/attach_result.h"
#include "plist/limits.h"
#include "plist/property_list.h"
#include "process/launch.h"
#include "process/runners.h"

#include <chrono>
#include <map>
#include <numeric>
#include <thread>

using namespace tarnwell;
using Outcome = AttachResult::Outcome;

namespace {

std::string nestedXml(size_t depth, const std::string& between = "") {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (size_t i = 0; i < depth; ++i) xml += "<array>" + between;
  for (size_t i = 0; i < depth; ++i) xml += "</array>";
  return xml + "</plist>";
}

// A binary list of arrays only: object i refers to the objects in refs[i].
std::string binaryArrays(const std::vector<std::vector<uint8_t>>& refs) {
  std::string out = "bplist00";
  std::vector<size_t> offsets;
  for (const auto& list : refs) {
    offsets.push_back(out.size());
    out += static_cast<char>(0xA0 | list.size());
    for (uint8_t ref : list) out += static_cast<char>(ref);
  }
  size_t table = out.size();
  for (size_t offset : offsets) out += static_cast<char>(offset);
  std::string trailer(32, '\0');
  trailer[6] = trailer[7] = 1;  // offset and reference sizes
  trailer[15] = static_cast<char>(refs.size());
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

// Objects 0..n-1, each referring `fanOut` times to the next.
std::string binaryChain(uint8_t n, size_t fanOut) {
  std::vector<std::vector<uint8_t>> refs(n);
  for (uint8_t i = 0; i + 1 < n; ++i) refs[i].assign(fanOut, static_cast<uint8_t>(i + 1));
  return binaryArrays(refs);
}

bool within(std::string_view bytes) { return static_cast<bool>(plistWithinLimits(bytes)); }

struct Launched {
  int32_t status;
  std::vector<std::string> log;
  std::chrono::steady_clock::duration elapsed;
};

Launched launch(const std::string& script, int64_t timeout, const std::string& directory = "/") {
  testing::internal::CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  int32_t status = launchProcess("/bin/sh", {"-c", script}, directory, timeout);
  auto elapsed = std::chrono::steady_clock::now() - start;
  return {status, test::logEntries(testing::internal::GetCapturedStderr()), elapsed};
}

const std::string kLaunch = "launchProcess(atPath:withArgs:_:timeout:)";

}  // namespace

TEST(Rendering, ListsAndControlCharacters) {
  EXPECT_EQ(renderList({}), "[]");
  EXPECT_EQ(renderList({"", "a b"}), "[\"\", \"a b\"]");
  EXPECT_EQ(renderList({"say \"hi\" it's C:\\dir"}), R"(["say \"hi\" it\'s C:\\dir"])");
  EXPECT_EQ(renderList({std::string("a\nb\rc\td\0e\x1b", 10)}), R"(["a\nb\rc\td\0e\x1b"])");
  EXPECT_EQ(renderList({"Ünïcode ✓"}), "[\"Ünïcode ✓\"]");
  EXPECT_EQ(escapeText("a \"b\"\n\x7f"), "a \"b\"\\n\\x7f");
}

// The limits the README promises: 1 MiB, 64 levels, 100,000 values.
TEST(PlistLimits, NestingSizeAndValuesAreBoundedAtTheirLimits) {
  EXPECT_TRUE(within(nestedXml(64, "<array/><dict/>")));
  EXPECT_FALSE(within(nestedXml(65)));
  // Closing tags inside comments or CDATA do not lower the count.
  EXPECT_FALSE(within(nestedXml(65, "<!-- </array></array> --><string><![CDATA[</array>]]></string>")));
  // Nor do markup that a parser reads past or skips whole: a quoted '>' (libplist skips it), a processing
  // instruction, a declaration, "<!-->" (no comment's end).
  EXPECT_FALSE(within(nestedXml(40, "<array x=\"/>\">")));
  for (std::string hiding : {"<?x </array> ?>", "<!DOCTYPE x [ ] > </array> ]>", "<!--></array>-->"})
    EXPECT_FALSE(within(nestedXml(65, hiding))) << hiding;
  EXPECT_TRUE(within(binaryChain(64, 1)));
  EXPECT_FALSE(within(binaryChain(65, 1)));
  EXPECT_FALSE(within(binaryChain(20, 2))) << "a million values from a few bytes";
  EXPECT_FALSE(within(binaryArrays({{1}, {0}}))) << "a cycle";
  EXPECT_FALSE(within(binaryArrays({{5}}))) << "a reference past the objects";
  EXPECT_FALSE(within("bplist00short"));
  EXPECT_FALSE(within("<plist>" + std::string(1 << 20, ' ') + "</plist>"));
  EXPECT_TRUE(within("<plist>" + std::string((1 << 20) - 15, ' ') + "</plist>")) << "exactly the limit";
}

// Only XML in UTF-8 and binary lists reach a parser: the old text format,
// JSON and other encodings escape the tag counts. The copy made of a parsed
// list is bounded too, every reference counted.
TEST(PlistLimits, OnlyBoundedXmlOrBinaryIsParsed) {
  std::vector<std::string> flat(100000, "<array/>");
  const std::pair<std::string, bool> rows[] = {
      {test::entitiesPlist({"/Volumes/X"}), true},
      {"{\"system-entities\": [{\"mount-point\": \"/Volumes/X\"}]}", false},
      {"{ \"system-entities\" = ( { \"mount-point\" = \"/Volumes/X\"; } ); }", false},
      {"<0fbd77>", false},
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><dict/></plist>", false},
      {"<?xml version=\"1.0\"?><plist><array>" + std::accumulate(flat.begin(), flat.end(), std::string()) +
           "</array></plist>",
       false},
      {binaryChain(20, 2), false},
  };
  for (const auto& [bytes, parsed] : rows) {
    EXPECT_EQ(parsePropertyList(bytes, {"system-entities", "mount-point"}).ok, parsed) << bytes.substr(0, 80);
  }
}

// The fuzz corpus: its seeds, each in XML and binary form, and the input
// that once broke the reader. Every file reads without harm, as it should.
TEST(AttachResult, CorpusReadsAsItShould) {
  const std::map<std::string, std::pair<Outcome, std::string>> expected = {
      {"two_entities", {Outcome::Found, "/Volumes/Sample"}},
      {"empty_mount_point", {Outcome::Found, "/Volumes/Next"}},
      {"huge_array", {Outcome::Found, "/Volumes/Last"}},
      {"many_types", {Outcome::Found, "/Volumes/T"}},
      {"warnings_around", {Outcome::Found, "/Volumes/Sample"}},
      {"missing_mount_point", {Outcome::NoMountPoint, ""}},
      {"wrong_types", {Outcome::NoMountPoint, ""}},
      {"nul_in_string", {Outcome::NoMountPoint, ""}},
      {"entities_not_array", {Outcome::NoRows, ""}},
      {"root_array", {Outcome::NoRows, ""}},
      {"deep_nesting", {Outcome::NotAPropertyList, ""}},
      {"empty", {Outcome::NotAPropertyList, ""}},
  };
  for (const auto& entry : std::filesystem::directory_iterator(TARNWELL_FUZZ_CORPUS)) {
    AttachResult result = readAttachResult(test::readText(entry.path()));
    const auto& [outcome, mountPoint] = expected.at(entry.path().stem());
    EXPECT_EQ(result.outcome, outcome) << entry.path();
    EXPECT_EQ(result.mountPoint, mountPoint) << entry.path();
  }
  std::string mixed = test::entitiesPlist({"/Volumes/X"});
  EXPECT_EQ(readAttachResult(mixed.insert(mixed.find("</array>"), "<string>x</string>")).outcome, Outcome::NoRows);
}

TEST(Texts, StatusTextsAndTheBasePath) {
  EXPECT_EQ(parseStatusText("+0"), 0);
  EXPECT_EQ(parseStatusText("-15"), -15);
  EXPECT_EQ(parseStatusText("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"", "+", " 0", "0\n", "+-1", "0x0", "9223372036854775808"})
    EXPECT_EQ(parseStatusText(bad), std::nullopt) << bad;
  EXPECT_EQ(basePathForExecutable("/A/B/C/tarnwell"), "/A");
  EXPECT_EQ(basePathForExecutable("/B/C/tarnwell"), "/");
  EXPECT_EQ(joinPath("/", "qxmount.plist"), "/qxmount.plist");
  EXPECT_EQ(joinPath("/A", "/etc/x.dmg"), "/A/etc/x.dmg");
}

// A flood is kept bounded: its first and last 64 KiB, the rest counted.
TEST(Runners, BoundAFloodAndStartNothingThatCannotStart) {
  auto [status, output] =
      shell({"/bin/sh", "-c",
             "echo first; head -c 10000000 /dev/zero | tr '\\0' o; head -c 10000000 /dev/zero >&2; echo last; exit 5"});
  EXPECT_EQ(status, 5);
  EXPECT_EQ(output.size(), 2u << 16);
  EXPECT_TRUE(output.starts_with("first\no")) << output.substr(0, 10);
  EXPECT_TRUE(output.ends_with(std::string(10, '\0') + "last\n"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetOutput("/bin/sh", "head -c 300000 /dev/zero | tr '\\0' o"), "0");
  EXPECT_EQ(test::logEntries(testing::internal::GetCapturedStderr()).back(),
            "terminationStatus : 0 output : " + std::string(1 << 16, 'o') + " [" + std::to_string(300000 - (2 << 16)) +
                " bytes of output left out] " + std::string(1 << 16, 'o'));
  testing::internal::CaptureStderr();
  EXPECT_EQ(GetOutput("/nonexistent/bash", "true"), "127");
  EXPECT_EQ(test::logEntries(testing::internal::GetCapturedStderr()),
            (std::vector<std::string>{"Given Command /nonexistent/bash true",
                                      "Could not start \"/nonexistent/bash\": No such file or directory"}));
}

// Given up after max(limit, 1) turns, the child is told to end.
TEST(TimedLaunch, GivesUpAfterItsTurns) {
  for (int64_t limit : {1, 0, -5}) {
    Launched run = launch("trap 'touch /tmp/tarnwell-told; exit 0' TERM; sleep 3 & wait", limit);
    EXPECT_EQ(run.status, 1) << limit;
    EXPECT_EQ(run.log.back(), kLaunch + ":Execution time out");
    EXPECT_LT(run.elapsed, std::chrono::milliseconds(2500)) << "one turn, not the child's three seconds";
    EXPECT_GE(run.elapsed, std::chrono::milliseconds(900)) << "a turn lasts a second";
    for (int i = 0; i < 50 && !std::filesystem::exists("/tmp/tarnwell-told"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(std::filesystem::remove("/tmp/tarnwell-told")) << "the child was not told to end";
  }
  // One that ignores it is killed, and gone before the volume is detached.
  Launched stubborn = launch("trap '' TERM; sleep 58", 2);
  EXPECT_EQ(stubborn.status, 1);
  EXPECT_LT(stubborn.elapsed, std::chrono::seconds(20));
  EXPECT_NE(std::system("pgrep -f 'sleep 5[8]$' >/dev/null"), 0) << "the child outlived its time limit";
}

TEST(TimedLaunch, QuickChildrenDoNotWaitForTheirTurnsToEnd) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) {
    Launched run = launch("exit 4", 3600, "");
    EXPECT_EQ(
        run.log.front(),
        kLaunch + ":Given launchPath:/bin/sh, withArgs:[\"-c\", \"exit 4\"], inDirectory:, timeoutIn:3600seconds");
    EXPECT_EQ(run.log.back(), kLaunch + " : ExecutionStatus : 4");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "ten launches took ten turns";
  EXPECT_EQ(launch("exit 4", 0).status, 4) << "a limit of 0 still gives a turn";
  Launched flood = launch("head -c 200000000 /dev/zero; exit 7", 120);
  EXPECT_EQ(flood.status, 7) << "output nobody reads must not block the child";
  testing::internal::CaptureStderr();
  EXPECT_EQ(launchProcess("/nonexistent/installer", {}, "/", 10), 127);
  EXPECT_EQ(test::logEntries(testing::internal::GetCapturedStderr()).back(),
            kLaunch + ":Could not start \"/nonexistent/installer\" in \"/\": No such file or directory");
}
