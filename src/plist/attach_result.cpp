#include "plist/attach_result.h"

#include "platform/path.h"
#include "plist/property_list.h"

#include <algorithm>

namespace tarnwell {
namespace {

// The first "<?xml" or "<plist" through the next "</plist>", if any.
std::string_view embeddedXmlPlist(std::string_view bytes) {
  size_t start = std::min(bytes.find("<?xml"), bytes.find("<plist"));
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
  bool named = false;
  for (std::string_view part : pathComponents(path)) {
    if (part == "..") return false;
    if (part != ".") named = true;
  }
  return named;
}

AttachResult readAttachResult(std::string_view bytes) {
  AttachResult result;
  PlistParse parse = parsePropertyList(bytes, kKeys);
  if (!parse.ok) {
    std::string_view inner = embeddedXmlPlist(bytes);
    if (!inner.empty() && inner.size() != bytes.size()) parse = parsePropertyList(inner, kKeys);
  }
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
    if (!mountPoint || mountPoint->kind != PlistNode::Kind::String || mountPoint->text.find('\0') != std::string::npos) {
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
