#include "plist/attach_result.h"

#include "platform/path.h"
#include "plist/property_list.h"

#include <algorithm>

namespace tarnwell {
namespace {

// hdiutil's own answer: the last "<?xml" (or "<plist") through the next
// "</plist>". What stands before it (the licence an image may carry, which
// "echo YES" agrees to) is the image maker's text and may hold a plist of
// its own; hdiutil's strings are escaped and can hold no "<?xml".
std::string_view embeddedXmlPlist(std::string_view bytes) {
  size_t start = bytes.rfind("<?xml");
  if (start == std::string_view::npos) start = bytes.rfind("<plist");
  if (start == std::string_view::npos) return {};
  constexpr std::string_view kEnd = "</plist>";
  size_t end = bytes.find(kEnd, start);
  if (end == std::string_view::npos) return {};
  return bytes.substr(start, end + kEnd.size() - start);
}

const std::vector<std::string> kKeys = {"system-entities", "mount-point", "dev-entry"};

// "/dev/disk4", not a slice ("/dev/disk4s1") nor anything a shell would read.
bool wholeDisk(const PlistNode* entry) {
  constexpr std::string_view kDisk = "/dev/disk";
  if (!entry || entry->kind != PlistNode::Kind::String || !entry->text.starts_with(kDisk)) return false;
  std::string_view number = std::string_view(entry->text).substr(kDisk.size());
  return !number.empty() && number.size() <= 9 &&
         std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isDictionary(const PlistNode& node) { return node.kind == PlistNode::Kind::Dictionary; }

}  // namespace

bool usableMountPoint(std::string_view path) {
  if (!path.starts_with('/')) return false;
  std::vector<std::string_view> parts = pathComponents(path);
  if (std::find(parts.begin(), parts.end(), "..") != parts.end()) return false;
  std::erase(parts, ".");
  return parts.size() >= 2 && parts.front() == "Volumes";
}

AttachResult readAttachResult(std::string_view bytes) {
  AttachResult result;
  // Only hdiutil's own part is read: a parser may take a first plist and
  // let what follows it be.
  std::string_view own = bytes.starts_with("bplist00") ? bytes : embeddedXmlPlist(bytes);
  PlistParse parse = parsePropertyList(own.empty() ? bytes : own, kKeys);
  if (!parse.ok) {
    result.error = parse.error;
    return result;
  }

  const PlistNode* entities = isDictionary(parse.root) ? parse.root.find("system-entities") : nullptr;
  if (!entities || entities->kind != PlistNode::Kind::Array || entities->items.empty() ||
      !std::all_of(entities->items.begin(), entities->items.end(), isDictionary)) {
    result.outcome = AttachResult::Outcome::NoRows;
    return result;
  }

  result.entityCount = entities->items.size();
  for (const PlistNode& entity : entities->items) {
    if (const PlistNode* device = entity.find("dev-entry"); wholeDisk(device)) {
      result.imageDevice = device->text;
      break;
    }
  }
  result.outcome = AttachResult::Outcome::NoMountPoint;
  for (const PlistNode& entity : entities->items) {
    const PlistNode* mountPoint = entity.find("mount-point");
    // A NUL byte cannot stand in a path: such a value would name another directory.
    if (!mountPoint || mountPoint->kind != PlistNode::Kind::String ||
        mountPoint->text.find('\0') != std::string::npos) {
      continue;
    }
    result.mountPointsSeen.push_back(mountPoint->text);
    if (usableMountPoint(mountPoint->text)) {
      result.outcome = AttachResult::Outcome::Found;
      result.mountPoint = mountPoint->text;
      break;
    }
  }
  return result;
}

}  // namespace tarnwell
