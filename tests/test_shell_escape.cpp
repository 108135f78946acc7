#include "process/runners.h"
#include "process/shell_escape.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwell;

namespace {

const std::vector<std::string> kHostile = {
    "x$(touch /tmp/tarnwell-owned).dmg", "a`id`b", "semi;colon", "quote\"double", "quote'single",
    "new\nline", "back\\slash", "star*?[a]", "pipe|amp&", "tilde~", "~home", "#hash", "dollar$HOME",
    "brace{a,b}", "paren(x)", "less<more>", "tab\tch", "ü é ✓", "excl!mark", "equals=x", "%percent",
};

std::string echoed(const std::string& shellText) {
  auto [status, output] = shell({"/bin/bash", "-c", "printf '%s' " + shellText});
  EXPECT_EQ(status, 0) << shellText;
  return output;
}

}  // namespace

TEST(ShellEscape, OrdinaryNamesStayAsTheyAre) {
  EXPECT_EQ(escapeShellWord("/Library/Tarnwell/Sample Disk.dmg"), "/Library/Tarnwell/Sample\\ Disk.dmg");
  EXPECT_EQ(escapeShellWord("/A/b-c_d.1/qxmount.plist"), "/A/b-c_d.1/qxmount.plist");
  EXPECT_EQ(escapeInDoubleQuotes("/Volumes/My Disk"), "/Volumes/My Disk");
}

TEST(ShellEscape, BashReceivesEveryWordUnchanged) {
  for (const std::string& text : kHostile) {
    EXPECT_EQ(echoed(escapeShellWord(text)), text) << text;
    EXPECT_EQ(echoed("\"" + escapeInDoubleQuotes(text) + "\""), text) << text;
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/tarnwell-owned"));
}

TEST(ShellEscape, PosixShellReceivesDoubleQuotedTextUnchanged) {
  for (const std::string& text : kHostile) {
    auto [status, output] = shell({"/bin/sh", "-c", "printf '%s' \"" + escapeInDoubleQuotes(text) + "\""});
    EXPECT_EQ(output, text);
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/tarnwell-owned"));
}
