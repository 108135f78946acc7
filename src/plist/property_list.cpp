#include "plist/property_list.h"

#include "platform/apple.h"
#include "plist/limits.h"

#if !TARNWELL_APPLE
// libplist: this folder must hold no plist.h of its own, or this finds it.
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

// The byte checks bound the input; this bounds the copy made of it, on
// every platform alike: each reference to a shared object counts again.
class Budget {
 public:
  bool enter() {
    if (++depth_ > kMaxPlistDepth || ++values_ > kMaxPlistValues) exceeded_ = true;
    return !exceeded_;
  }
  void leave() { --depth_; }
  bool exceeded() const { return exceeded_; }

 private:
  size_t depth_ = 0;
  size_t values_ = 0;
  bool exceeded_ = false;
};

}  // namespace

#if TARNWELL_APPLE

namespace {

using Native = CFTypeRef;

// Every byte of the string, embedded NULs included; false when it cannot
// be written as UTF-8.
bool toUtf8(CFStringRef string, std::string* out) {
  CFRange all = CFRangeMake(0, CFStringGetLength(string));
  CFIndex size = 0;
  if (CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size) != all.length) return false;
  out->assign(static_cast<size_t>(size), '\0');
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, reinterpret_cast<UInt8*>(out->data()), size, &size);
  out->resize(static_cast<size_t>(size));
  return true;
}

void convert(CFTypeRef value, const std::vector<std::string>& keys, Budget& budget, PlistNode& node) {
  if (!budget.enter()) return;
  CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) {
    if (toUtf8(static_cast<CFStringRef>(value), &node.text)) node.kind = PlistNode::Kind::String;
  } else if (type == CFArrayGetTypeID()) {
    node.kind = PlistNode::Kind::Array;
    auto array = static_cast<CFArrayRef>(value);
    for (CFIndex i = 0; i < CFArrayGetCount(array) && !budget.exceeded(); ++i) {
      convert(CFArrayGetValueAtIndex(array, i), keys, budget, node.items.emplace_back());
    }
  } else if (type == CFDictionaryGetTypeID()) {
    node.kind = PlistNode::Kind::Dictionary;
    for (const std::string& key : keys) {
      CFStringRef name = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(key.data()),
                                                 static_cast<CFIndex>(key.size()), kCFStringEncodingUTF8, false);
      const void* item = name ? CFDictionaryGetValue(static_cast<CFDictionaryRef>(value), name) : nullptr;
      if (name) CFRelease(name);
      if (!item || budget.exceeded()) continue;
      node.keys.push_back(key);
      convert(item, keys, budget, node.items.emplace_back());
    }
  }
  budget.leave();
}

Native parseNative(std::string_view bytes) {
  CFDataRef data =
      CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()), static_cast<CFIndex>(bytes.size()));
  if (!data) return nullptr;
  CFPropertyListRef list = CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, nullptr, nullptr);
  CFRelease(data);
  return list;
}

void freeNative(Native root) { CFRelease(root); }

}  // namespace

#else

namespace {

using Native = plist_t;

// Keys are looked up, never read out: libplist 2.2 asserts on reading a
// key or string with a NUL byte inside, and the attach result is input.
void convert(plist_t value, const std::vector<std::string>& keys, Budget& budget, PlistNode& node) {
  if (!budget.enter()) return;
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
      for (uint32_t i = 0; i < count && !budget.exceeded(); ++i) {
        convert(plist_array_get_item(value, i), keys, budget, node.items.emplace_back());
      }
      break;
    }
    case PLIST_DICT: {
      node.kind = PlistNode::Kind::Dictionary;
      for (const std::string& key : keys) {
        plist_t item = plist_dict_get_item(value, key.c_str());
        if (!item || budget.exceeded()) continue;
        node.keys.push_back(key);
        convert(item, keys, budget, node.items.emplace_back());
      }
      break;
    }
    default: break;
  }
  budget.leave();
}

Native parseNative(std::string_view bytes) {
  plist_t root = nullptr;
  if (bytes.empty() || bytes.size() > UINT32_MAX) return nullptr;
#if defined(TARNWELL_PLIST_API_2_3)
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root, nullptr);
#else
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
#endif
  return root;
}

void freeNative(Native root) { plist_free(root); }

}  // namespace

#endif

PlistParse parsePropertyList(std::string_view bytes, const std::vector<std::string>& keys) {
  PlistParse result;
  if (Result within = plistWithinLimits(bytes); !within) {
    result.error = within.error();
    return result;
  }
  Native root = parseNative(bytes);
  if (!root) {
    result.error = kNotAPlist;
    return result;
  }
  Budget budget;
  convert(root, keys, budget, result.root);
  freeNative(root);
  if (budget.exceeded()) {
    result.root = PlistNode();
    result.error = "the property list nests deeper than " + std::to_string(kMaxPlistDepth) +
                   " levels or holds more than " + std::to_string(kMaxPlistValues) + " values";
    return result;
  }
  result.ok = true;
  return result;
}

std::string bundleIdentifier(std::string_view infoPlist) {
  static const std::vector<std::string> kKey = {"CFBundleIdentifier"};
  PlistParse parse = parsePropertyList(infoPlist, kKey);
  const PlistNode* identifier = parse.ok ? parse.root.find(kKey[0]) : nullptr;
  return identifier && identifier->kind == PlistNode::Kind::String ? identifier->text : std::string();
}

}  // namespace tarnwell
