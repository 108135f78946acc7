// CoreFoundation's property-list calls on libplist: a CF object here is a
// libplist node, be it a parsed list, a key made for a lookup or the data
// handed to the parser. The parser keeps CF's surprises that the attach
// answer can meet: binary is tried first, and text that is not XML is
// read by the old-style rules (blanks are an empty dictionary, a lone
// word is a string).

#include "../../scripts/macos-sdk/CoreFoundation.framework/Headers/CoreFoundation.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include <plist/plist.h>

namespace {

plist_t node(const void* object) { return const_cast<plist_t>(object); }

// The length of the UTF-8 character at `at`, 0 where there is none.
size_t characterAt(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(at);
  const size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  if (length == 3 && (lead == 0xED ? byte(at + 1) > 0x9F : lead == 0xE0 && byte(at + 1) < 0xA0)) return 0;
  if (length == 4 && (lead == 0xF0 ? byte(at + 1) < 0x90 : lead == 0xF4 && byte(at + 1) > 0x8F)) return 0;
  return length;
}

// UTF-16 units of valid UTF-8, or -1.
CFIndex utf16Length(std::string_view text) {
  CFIndex units = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t length = characterAt(text, at);
    if (length == 0) return -1;
    units += length == 4 ? 2 : 1;
    at += length;
  }
  return units;
}

std::string_view textOf(CFStringRef string) {
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node(string), &length);
  return {text ? text : "", static_cast<size_t>(length)};
}

}  // namespace

extern "C" {

void CFRelease(CFTypeRef object) { plist_free(node(object)); }
CFTypeID CFGetTypeID(CFTypeRef object) { return plist_get_node_type(node(object)); }
CFTypeID CFStringGetTypeID() { return PLIST_STRING; }
CFTypeID CFArrayGetTypeID() { return PLIST_ARRAY; }
CFTypeID CFDictionaryGetTypeID() { return PLIST_DICT; }
CFIndex CFArrayGetCount(CFArrayRef array) { return plist_array_get_size(node(array)); }
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex at) {
  return plist_array_get_item(node(array), static_cast<uint32_t>(at));
}
const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key) {
  return plist_dict_get_item(node(dictionary), plist_get_string_ptr(node(key), nullptr));
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  return reinterpret_cast<CFDataRef>(
      plist_new_data(reinterpret_cast<const char*>(bytes), static_cast<uint64_t>(length)));
}

// NULL for bytes that are not UTF-8 (and, a limit of libplist's strings,
// for a NUL among them: the tool's keys hold none).
CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex length, CFStringEncoding encoding,
                                    Boolean) {
  const std::string text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  if (encoding != kCFStringEncodingUTF8 || utf16Length(text) < 0 || text.find('\0') != std::string::npos)
    return nullptr;
  return reinterpret_cast<CFStringRef>(plist_new_string(text.c_str()));
}

CFIndex CFStringGetLength(CFStringRef string) { return std::max<CFIndex>(utf16Length(textOf(string)), 0); }

// The characters converted: a string that is not valid UTF-8 within (a
// lone surrogate the parser let through) converts none, where CF would
// stop at that character.
CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding, UInt8, Boolean, UInt8* buffer,
                         CFIndex maxLength, CFIndex* used) {
  const std::string_view text = textOf(string);
  const bool whole = utf16Length(text) == range.length && range.location == 0;
  const size_t size = whole ? text.size() : 0;
  if (buffer) std::memcpy(buffer, text.data(), std::min(size, static_cast<size_t>(maxLength)));
  if (used) *used = static_cast<CFIndex>(buffer ? std::min(size, static_cast<size_t>(maxLength)) : size);
  return whole ? range.length : 0;
}

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data, CFOptionFlags, CFPropertyListFormat*,
                                               CFErrorRef*) {
  uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node(data), &length);
  if (!bytes || length == 0 || length > UINT32_MAX) return nullptr;
  plist_t root = nullptr;
  if (length >= 8 && std::memcmp(bytes, "bplist0", 7) == 0) plist_from_bin(bytes, static_cast<uint32_t>(length), &root);
  if (!root) plist_from_xml(bytes, static_cast<uint32_t>(length), &root);
  if (root) return root;
  const std::string_view text(bytes, static_cast<size_t>(length));
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto wordy = [](char c) {
    return c && (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_$+/:.-", c));
  };
  if (std::all_of(text.begin(), text.end(), blank)) return plist_new_dict();
  const size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
  const std::string word(text.substr(first, last - first + 1));
  if (std::all_of(word.begin(), word.end(), wordy)) return plist_new_string(word.c_str());
  return nullptr;
}
}
