#include "platform/plist.h"

#include <cstdlib>

#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#else
#include <plist/plist.h>
#endif

namespace tarnwell {

const PlistNode* PlistNode::find(std::string_view key) const {
  for (const auto& [name, value] : entries) {
    if (name == key) return &value;
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

PlistNode convert(CFTypeRef value) {
  PlistNode node;
  CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) {
    node.kind = PlistNode::Kind::String;
    node.text = toString(static_cast<CFStringRef>(value));
  } else if (type == CFArrayGetTypeID()) {
    node.kind = PlistNode::Kind::Array;
    auto array = static_cast<CFArrayRef>(value);
    for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) node.items.push_back(convert(CFArrayGetValueAtIndex(array, i)));
  } else if (type == CFDictionaryGetTypeID()) {
    auto dictionary = static_cast<CFDictionaryRef>(value);
    CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    node.kind = PlistNode::Kind::Dictionary;
    for (CFIndex i = 0; i < count; ++i) {
      if (CFGetTypeID(keys[i]) != CFStringGetTypeID()) {
        node.kind = PlistNode::Kind::Other;  // not a dictionary with text keys
        node.entries.clear();
        break;
      }
      node.entries.emplace_back(toString(static_cast<CFStringRef>(keys[i])), convert(values[i]));
    }
  }
  return node;
}

}  // namespace

PlistParse parsePropertyList(std::string_view bytes) {
  PlistParse result;
  CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()), static_cast<CFIndex>(bytes.size()));
  CFPropertyListRef list = data ? CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, nullptr, nullptr) : nullptr;
  if (data) CFRelease(data);
  if (!list) {
    result.error = kNotAPlist;
    return result;
  }
  result.root = convert(list);
  result.ok = true;
  CFRelease(list);
  return result;
}

#else

namespace {

PlistNode convert(plist_t value) {
  PlistNode node;
  switch (plist_get_node_type(value)) {
    case PLIST_STRING: {
      char* text = nullptr;
      plist_get_string_val(value, &text);
      node.kind = PlistNode::Kind::String;
      if (text) node.text = text;
      free(text);
      break;
    }
    case PLIST_ARRAY: {
      node.kind = PlistNode::Kind::Array;
      uint32_t count = plist_array_get_size(value);
      node.items.reserve(count);
      for (uint32_t i = 0; i < count; ++i) node.items.push_back(convert(plist_array_get_item(value, i)));
      break;
    }
    case PLIST_DICT: {
      node.kind = PlistNode::Kind::Dictionary;
      plist_dict_iter iterator = nullptr;
      plist_dict_new_iter(value, &iterator);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(value, iterator, &key, &item);
        if (!item) {
          free(key);
          break;
        }
        node.entries.emplace_back(key ? key : "", convert(item));
        free(key);
      }
      free(iterator);
      break;
    }
    default:
      break;
  }
  return node;
}

}  // namespace

PlistParse parsePropertyList(std::string_view bytes) {
  PlistParse result;
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
  result.root = convert(root);
  result.ok = true;
  plist_free(root);
  return result;
}

#endif

}  // namespace tarnwell
