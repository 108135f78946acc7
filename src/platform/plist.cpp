#include "platform/plist.h"

#include "platform/plist_limits.h"


#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#else
#include <plist/plist.h>
#endif

namespace tarnwell {

const PlistNode* PlistNode::find(std::string_view key) const {
  if (kind != Kind::Dictionary) return nullptr;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == key) return &items[i];
  }
  return nullptr;
}

namespace {
constexpr const char* kNotAPlist = "the data is not an XML or binary property list";
}

#if defined(__APPLE__)

namespace {

std::string toString(CFStringRef string) {
  CFIndex length = CFStringGetLength(string);
  CFIndex size = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8) + 1;
  std::string out(static_cast<size_t>(size), '\0');
  if (!CFStringGetCString(string, out.data(), size, kCFStringEncodingUTF8)) return {};
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

PlistNode convert(CFTypeRef value, const std::vector<std::string>& keys) {
  PlistNode node;
  CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) {
    node.kind = PlistNode::Kind::String;
    node.text = toString(static_cast<CFStringRef>(value));
  } else if (type == CFArrayGetTypeID()) {
    node.kind = PlistNode::Kind::Array;
    auto array = static_cast<CFArrayRef>(value);
    for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) node.items.push_back(convert(CFArrayGetValueAtIndex(array, i), keys));
  } else if (type == CFDictionaryGetTypeID()) {
    node.kind = PlistNode::Kind::Dictionary;
    for (const std::string& key : keys) {
      CFStringRef name = CFStringCreateWithCString(nullptr, key.c_str(), kCFStringEncodingUTF8);
      const void* item = name ? CFDictionaryGetValue(static_cast<CFDictionaryRef>(value), name) : nullptr;
      if (name) CFRelease(name);
      if (!item) continue;
      node.keys.push_back(key);
      node.items.push_back(convert(item, keys));
    }
  }
  return node;
}

}  // namespace

PlistParse parsePropertyList(std::string_view bytes, const std::vector<std::string>& keys) {
  PlistParse result;
  CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()), static_cast<CFIndex>(bytes.size()));
  CFPropertyListRef list = data ? CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, nullptr, nullptr) : nullptr;
  if (data) CFRelease(data);
  if (!list) {
    result.error = kNotAPlist;
    return result;
  }
  result.root = convert(list, keys);
  result.ok = true;
  CFRelease(list);
  return result;
}

#else

namespace {

// Keys are looked up, never read out: libplist 2.2 asserts on reading a
// key or string with a NUL byte inside, and the attach result is input.
PlistNode convert(plist_t value, const std::vector<std::string>& keys) {
  PlistNode node;
  switch (plist_get_node_type(value)) {
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(value, &length);
      node.kind = PlistNode::Kind::String;
      if (text) node.text.assign(text, length);
      break;
    }
    case PLIST_ARRAY: {
      node.kind = PlistNode::Kind::Array;
      uint32_t count = plist_array_get_size(value);
      node.items.reserve(count);
      for (uint32_t i = 0; i < count; ++i) node.items.push_back(convert(plist_array_get_item(value, i), keys));
      break;
    }
    case PLIST_DICT: {
      node.kind = PlistNode::Kind::Dictionary;
      for (const std::string& key : keys) {
        plist_t item = plist_dict_get_item(value, key.c_str());
        if (!item) continue;
        node.keys.push_back(key);
        node.items.push_back(convert(item, keys));
      }
      break;
    }
    default:
      break;
  }
  return node;
}

}  // namespace

PlistParse parsePropertyList(std::string_view bytes, const std::vector<std::string>& keys) {
  PlistParse result;
  if (auto refused = plistOutsideLimits(bytes)) {
    result.error = *refused;
    return result;
  }
  plist_t root = nullptr;
  if (!bytes.empty() && bytes.size() <= UINT32_MAX) {
#if defined(TARNWELL_PLIST_API_2_3)
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root, nullptr);
#else
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
#endif
  }
  if (!root) {
    result.error = kNotAPlist;
    return result;
  }
  result.root = convert(root, keys);
  result.ok = true;
  plist_free(root);
  return result;
}

#endif

}  // namespace tarnwell
