#include "plist/limits.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace tarnwell {
namespace {

bool refuse(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

bool tooDeep(std::string* error) {
  return refuse(error, "the property list nests deeper than " + std::to_string(kMaxPlistDepth) + " levels");
}

// Depth of <array> and <dict> elements, where a parser finds them.
// Comments and CDATA sections are skipped as parsers skip them. Any other
// markup must end at its first '>' for every parser, whether it skips
// quoted text there (libplist does) or not: no '<', '[' or unpaired quote
// in it, a processing instruction ending "?>". Declarations and processing
// instructions come only before the root element, where no depth is
// counted: parsers skip them with rules of their own.
bool xmlWithinLimits(std::string_view xml, std::string* error) {
  size_t depth = 0;
  bool inRoot = false;
  for (size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    std::string_view rest = xml.substr(at);
    auto skip = [&](std::string_view start, std::string_view end) {
      size_t found = xml.find(end, at + start.size());
      at = found == std::string_view::npos ? xml.size() : found + end.size() - 1;
    };
    if (rest.starts_with("<!--")) {
      skip("<!--", "-->");
      continue;
    }
    if (rest.starts_with("<![CDATA[")) {
      skip("<![CDATA[", "]]>");
      continue;
    }
    size_t end = rest.find('>');
    if (end == std::string_view::npos) break;
    std::string_view markup = rest.substr(1, end - 1);
    at += end;
    const bool declaration = markup.starts_with('?') || markup.starts_with('!');
    if (markup.find_first_of("<[") != std::string_view::npos || std::ranges::count(markup, '"') % 2 != 0 ||
        std::ranges::count(markup, '\'') % 2 != 0 || (markup.starts_with('?') && !markup.ends_with('?')) ||
        (declaration && inRoot)) {
      return refuse(error, "the property list holds markup that parsers may read differently");
    }
    if (declaration) continue;
    inRoot = true;
    bool closing = markup.starts_with('/');
    std::string_view name = markup.substr(closing ? 1 : 0);
    name = name.substr(0, name.find_first_of(" \t\r\n/"));
    if (name != "array" && name != "dict") continue;
    if (closing) {
      if (depth > 0) --depth;
    } else if (!markup.ends_with('/') && ++depth > kMaxPlistDepth) {
      return tooDeep(error);
    }
  }
  return true;
}

class BinaryPlist {
 public:
  BinaryPlist(std::string_view bytes, std::string* error) : bytes_(bytes), error_(error) {}

  bool check() {
    if (bytes_.size() < 8 + 32) return broken();
    size_t trailer = bytes_.size() - 32;
    offsetSize_ = byte(trailer + 6);
    refSize_ = byte(trailer + 7);
    uint64_t count = number(trailer + 8, 8), top = number(trailer + 16, 8), table = number(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count == 0 || top >= count ||
        table >= trailer || count > (trailer - table) / offsetSize_) {
      return broken();
    }
    table_ = static_cast<size_t>(table);
    count_ = static_cast<size_t>(count);
    return walk(static_cast<size_t>(top));
  }

 private:
  struct Frame {
    size_t object;
    std::vector<size_t> children;
    size_t next = 0;
  };
  enum : uint8_t { kUnseen, kOpen, kDone };

  bool broken() { return refuse(error_, "the binary property list is damaged"); }

  unsigned byte(size_t at) const { return static_cast<unsigned char>(bytes_[at]); }
  uint64_t number(size_t at, size_t size) const {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | byte(at + i);
    return value;
  }

  // The objects an array, set or dictionary refers to; none for others.
  // False when the object does not hold together.
  bool children(size_t object, std::vector<size_t>* list) const {
    uint64_t offset = number(table_ + object * offsetSize_, offsetSize_);
    if (offset < 8 || offset >= table_) return false;
    size_t at = static_cast<size_t>(offset);
    unsigned marker = byte(at), kind = marker >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
    uint64_t count = marker & 0xF;
    ++at;
    if (count == 0xF) {
      if (at >= table_ || (byte(at) >> 4) != 0x1) return false;
      size_t size = size_t{1} << (byte(at) & 0xF);
      if (size > 8 || at + 1 + size > table_) return false;
      count = number(at + 1, size);
      at += 1 + size;
    }
    uint64_t refs = kind == 0xD ? count * 2 : count;
    if (count > table_ || refs > (table_ - at) / refSize_) return false;
    list->reserve(static_cast<size_t>(refs));
    for (uint64_t i = 0; i < refs; ++i) {
      uint64_t ref = number(at + static_cast<size_t>(i) * refSize_, refSize_);
      if (ref >= count_) return false;
      list->push_back(static_cast<size_t>(ref));
    }
    return true;
  }

  // Depth and expanded size of every object once, children before parents;
  // an object met again while still open is a cycle.
  bool walk(size_t top) {
    std::vector<uint8_t> state(count_, kUnseen);
    std::vector<uint32_t> depth(count_, 0);
    std::vector<uint64_t> values(count_, 0);
    std::vector<Frame> stack;
    auto open = [&](size_t object) -> bool {
      std::vector<size_t> list;
      if (!children(object, &list)) return false;
      state[object] = kOpen;
      stack.push_back({object, std::move(list)});
      return true;
    };
    if (!open(top)) return broken();
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next < frame.children.size()) {
        size_t child = frame.children[frame.next++];
        if (state[child] == kOpen) return broken();
        if (state[child] == kUnseen) {
          if (stack.size() > kMaxPlistDepth) return tooDeep(error_);
          if (!open(child)) return broken();
        }
        continue;
      }
      uint32_t deepest = 0;
      uint64_t total = 1;
      for (size_t child : frame.children) {
        deepest = std::max(deepest, depth[child]);
        total += values[child];
      }
      if (deepest + 1 > kMaxPlistDepth) return tooDeep(error_);
      if (total > kMaxPlistValues) {
        return refuse(error_, "the property list holds more than " + std::to_string(kMaxPlistValues) + " values");
      }
      depth[frame.object] = deepest + 1;
      values[frame.object] = total;
      state[frame.object] = kDone;
      stack.pop_back();
    }
    return true;
  }

  std::string_view bytes_;
  std::string* error_;
  size_t offsetSize_ = 0, refSize_ = 0, table_ = 0, count_ = 0;
};

// Parsers also read the old text format and JSON, which the tag counts
// above cannot bound, and take "<0fbd>" for text-format data. An XML list
// opens with a declaration, a comment, a doctype or the plist element, in
// UTF-8: another declared encoding would hide tags from the counts.
bool isUtf8Xml(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  size_t start = bytes.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return false;
  bytes.remove_prefix(start);
  if (!bytes.starts_with("<?xml")) return bytes.starts_with("<!") || bytes.starts_with("<plist");
  std::string declaration(bytes.substr(0, bytes.find("?>")));
  for (char& c : declaration) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t encoding = declaration.find("encoding");
  if (encoding == std::string::npos) return true;
  size_t quote = declaration.find_first_of("\"'", encoding);
  if (quote == std::string::npos) return false;
  std::string_view name = std::string_view(declaration).substr(quote + 1);
  return name.starts_with("utf-8") && name.size() > 5 && (name[5] == '"' || name[5] == '\'');
}

}  // namespace

Result plistWithinLimits(std::string_view bytes) {
  std::string why;
  bool within;
  if (bytes.size() > kMaxPlistBytes) {
    within = refuse(&why, "the property list is larger than " + std::to_string(kMaxPlistBytes) + " bytes");
  } else if (bytes.starts_with("bplist00")) {
    within = BinaryPlist(bytes, &why).check();
  } else if (!isUtf8Xml(bytes)) {
    within = refuse(&why, "the data is not an XML or binary property list");
  } else {
    within = xmlWithinLimits(bytes, &why);
  }
  return within ? Result() : Result::failure(why);
}

}  // namespace tarnwell
