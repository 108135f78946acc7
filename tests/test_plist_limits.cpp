#include "main/attach_result.h"
#include "platform/plist.h"
#include "platform/plist_limits.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

using namespace tarnwell;

namespace {

std::string nestedXml(size_t depth, const std::string& between = "") {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (size_t i = 0; i < depth; ++i) xml += "<array>" + between;
  for (size_t i = 0; i < depth; ++i) xml += "</array>";
  return xml + "</plist>";
}

// A binary list of arrays only: object i holds references to `refs[i]`.
std::string binaryArrays(const std::vector<std::vector<uint8_t>>& refs, uint8_t top = 0) {
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
  trailer[6] = 1;  // offset size
  trailer[7] = 1;  // reference size
  trailer[15] = static_cast<char>(refs.size());
  trailer[23] = static_cast<char>(top);
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

}  // namespace

TEST(PlistLimits, XmlNestingIsCounted) {
  EXPECT_EQ(plistOutsideLimits(nestedXml(kMaxPlistDepth)), std::nullopt);
  EXPECT_NE(plistOutsideLimits(nestedXml(kMaxPlistDepth + 1)), std::nullopt);
  EXPECT_NE(plistOutsideLimits(nestedXml(100000)), std::nullopt);
  EXPECT_EQ(plistOutsideLimits(nestedXml(kMaxPlistDepth, "<array/><dict/>")), std::nullopt);
  EXPECT_EQ(plistOutsideLimits(nestedXml(kMaxPlistDepth - 1, "<array ></array>")), std::nullopt);
  // Closing tags inside comments or CDATA do not lower the count.
  EXPECT_NE(plistOutsideLimits(nestedXml(kMaxPlistDepth + 1, "<!-- </array></array> --><string><![CDATA[</array>]]></string>")),
            std::nullopt);
  EXPECT_EQ(readAttachResult(nestedXml(200000)).outcome, AttachResult::Outcome::NotAPropertyList);
}

TEST(PlistLimits, BinaryDepthSharingAndDamage) {
  // 0 -> 1 -> 2 -> 3, then a list whose objects each hold the next twice.
  EXPECT_EQ(plistOutsideLimits(binaryArrays({{1}, {2}, {3}, {}})), std::nullopt);
  std::vector<std::vector<uint8_t>> chain, doubling;
  for (uint8_t i = 0; i < 70; ++i) chain.push_back(i + 1 < 70 ? std::vector<uint8_t>{static_cast<uint8_t>(i + 1)} : std::vector<uint8_t>{});
  EXPECT_NE(plistOutsideLimits(binaryArrays(chain)), std::nullopt);
  for (uint8_t i = 0; i < 40; ++i) {
    doubling.push_back(i + 1 < 40 ? std::vector<uint8_t>{static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1)} : std::vector<uint8_t>{});
  }
  auto refused = plistOutsideLimits(binaryArrays(doubling));
  ASSERT_NE(refused, std::nullopt);
  EXPECT_NE(refused->find("values"), std::string::npos) << *refused;

  EXPECT_NE(plistOutsideLimits(binaryArrays({{1}, {0}})), std::nullopt) << "a cycle";
  EXPECT_NE(plistOutsideLimits(binaryArrays({{5}})), std::nullopt) << "a reference past the objects";
  EXPECT_NE(plistOutsideLimits("bplist00short"), std::nullopt);
  EXPECT_NE(plistOutsideLimits(std::string(kMaxPlistBytes + 1, ' ')), std::nullopt);
}

// Only XML in UTF-8 and binary lists reach a parser, within the same
// bounds: the old text format, JSON and other encodings escape the tag
// counts, and a shared binary object counts once per reference.
TEST(PlistLimits, OnlyBoundedXmlOrBinaryIsParsed) {
  const std::string entities = "{\"system-entities\": [{\"mount-point\": \"/Volumes/X\"}]}";
  std::vector<std::string> flat(kMaxPlistValues, "<array/>");
  std::vector<std::vector<uint8_t>> doubling;
  for (uint8_t i = 0; i < 40; ++i) doubling.push_back(i + 1 < 40 ? std::vector<uint8_t>{uint8_t(i + 1), uint8_t(i + 1)} : std::vector<uint8_t>{});
  const std::pair<std::string, bool> rows[] = {
      {test::entitiesPlist({"/Volumes/X"}), true},
      {entities, false},
      {"{ \"system-entities\" = ( { \"mount-point\" = \"/Volumes/X\"; } ); }", false},
      {"<0fbd77>", false},
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><dict/></plist>", false},
      {"<?xml version=\"1.0\"?><plist><array>" + std::accumulate(flat.begin(), flat.end(), std::string()) + "</array></plist>", false},
      {binaryArrays(doubling), false},
  };
  for (const auto& [bytes, parsed] : rows) {
    EXPECT_EQ(parsePropertyList(bytes, {"system-entities", "mount-point"}).ok, parsed) << bytes.substr(0, 80);
  }
}

// Every input that once broke the reader, and the seeds, read without harm.
TEST(PlistLimits, FuzzCorpusRegression) {
  size_t read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TARNWELL_FUZZ_CORPUS)) {
    AttachResult result = readAttachResult(test::readFileText(entry.path()));
    if (result.outcome == AttachResult::Outcome::Found) EXPECT_FALSE(result.mountPoint.empty());
    ++read;
  }
  EXPECT_GT(read, 10u);
}
