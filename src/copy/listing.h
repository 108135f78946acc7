#pragma once

#include "platform/errors.h"
#include "platform/fd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell {

// The listings of the folders a walk is in, one a level, as one stack of
// entries ("." and ".." left out, each with the type the directory entry
// gives, DT_UNKNOWN where the file system does not say): the walk takes
// the entries of the deepest level one at a time, last listed first, and
// lists a folder it goes into on top of them. What the stack holds beyond
// a bound goes to a file, unlinked at once, in a folder private to the
// tool: neither a wide folder nor any shape of tree makes the memory grow.
class Listings {
 public:
  // `spillAt`: the private folder for that file; -1 keeps all in memory,
  // for folders known to be small.
  explicit Listings(int spillAt = -1) : spillAt_(spillAt) {}

  // Lists `directory` (through a descriptor of its own, so that its
  // position is not disturbed) as the deepest level; `shown` names it in
  // an error, and is only called then.
  Result push(int directory, const std::function<std::string()>& shown);
  // The next entry of the deepest level, or false when it has no more (or
  // when what went to the file cannot be read back: see failure()).
  // `name` stays valid, followed by a NUL, until the next call.
  bool next(std::string_view* name, unsigned char* type);
  const Result& failure() const { return failure_; }
  // Leaves the deepest level, and what is left of it.
  void pop();
  size_t levels() const { return bases_.size(); }

 private:
  uint64_t size() const { return spilled_ + held_.size(); }
  void truncate(uint64_t size);
  bool spill();
  bool hold(size_t bytes);

  int spillAt_;
  Fd file_;
  uint64_t spilled_ = 0;         // the bytes of the stack in the file, below those held
  std::string held_;             // each entry: its type, its name, its length (2 bytes)
  std::vector<uint64_t> bases_;  // where each level starts
  std::string current_;
  Result failure_;
};

}  // namespace tarnwell
