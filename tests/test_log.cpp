#include "platform/log.h"
#include "sandbox.h"

#include <gtest/gtest.h>

using namespace tarnwell;

TEST(ListRendering, QuotesEscapesAndSeparators) {
  EXPECT_EQ(renderList({}), "[]");
  EXPECT_EQ(renderList({""}), "[\"\"]");
  EXPECT_EQ(renderList({"a.pkg"}), "[\"a.pkg\"]");
  EXPECT_EQ(renderList({"a", "b c"}), "[\"a\", \"b c\"]");
  EXPECT_EQ(renderList({"say \"hi\""}), R"(["say \"hi\""])");
  EXPECT_EQ(renderList({"it's"}), R"(["it\'s"])");
  EXPECT_EQ(renderList({"C:\\dir"}), R"(["C:\\dir"])");
  EXPECT_EQ(renderList({"a\nb\rc\td"}), R"(["a\nb\rc\td"])");
  EXPECT_EQ(renderList({std::string("nul\0end", 7)}), R"(["nul\0end"])");
  EXPECT_EQ(renderList({"Ünïcode ✓"}), "[\"Ünïcode ✓\"]");
}

TEST(SystemLog, OneLiteralEntryWithTheContractPrefix) {
  testing::internal::CaptureStderr();
  logLine("100% done %s %n %@");
  logLine("two\nlines");
  std::string err = testing::internal::GetCapturedStderr();
  auto entries = test::logEntries(err);
  ASSERT_EQ(entries.size(), 2u) << err;
  EXPECT_EQ(entries[0], "100% done %s %n %@");
  EXPECT_EQ(entries[1], "two\nlines");
  EXPECT_EQ(err.back(), '\n');
}
