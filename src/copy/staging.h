#pragma once

#include "copy/remove_tree.h"
#include "platform/errors.h"
#include "platform/fd.h"

#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace tarnwell {

// The extended attribute that marks a staging folder as the tool's own:
// only root can set it on a root-owned folder of mode 0700.
inline constexpr std::string_view kStagingMark = "com.tarnwell.staging";

// A folder beside a bundle's destination, ".tarnwell-staging.NAME.TOKEN",
// that only root can enter, where the new bundle is copied before it is
// swapped into place. Its lock (a file inside it, locked for as long as
// the run lives) tells every other run that it is in use, and its mark
// (the token, in an extended attribute) that the tool made it.
class Staging {
 public:
  Staging() = default;
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  // One still held (an exception cut the work short) is removed.
  ~Staging();

  // Makes one for the bundle `leaf` in the open `parent`, which
  // `parentShown` names, locks and marks it.
  static Result make(int parent, const std::string& parentShown, const std::string& leaf, Staging* staging);

  int fd() const { return folder_.get(); }
  const std::string& shown() const { return shown_; }

  // Whether it is still where it was made and holds `entries` entries
  // below `leaf` (the whole copy): nothing else may have changed it.
  Result intact(const std::string& leaf, uint64_t entries) const;

  // Before the swap: the mark records the entries it may then hold that
  // may be deleted, the copy (until the swap) and `old` (after it) when
  // given, by device and inode. Nothing else in it is deleted, by this run
  // or by the clean-up of a leftover after a kill.
  Result recordRemovable(const struct stat& copy, const struct stat* old);

  // Removes it and everything in it, its lock last. What stays on purpose
  // (Removal::kept) stays in it, unmarked: no run removes it.
  Removal remove();

  // Leaves it in place for good: it holds something that is not the
  // tool's to delete. Unmarked, no run removes it.
  void keep();

 private:
  int parent_ = -1;
  std::string name_, shown_, removable_;
  Fd folder_, lock_;
};

// Removes the staging folders that runs which are gone left for the bundle
// `leaf` in `parent`, not locked by a live run: those marked by the tool
// (only what the mark records, once it records something), and those of
// root's, private, that hold nothing but perhaps an empty lock (a run
// killed before it marked its folder, or one short of descriptors).
// Nothing else is touched. One element for each folder removed or tried.
struct Leftover {
  std::string shown;
  Removal removed;
};
std::vector<Leftover> removeLeftovers(int parent, const std::string& parentShown, const std::string& leaf);

// A name beside the bundle `leaf` that is free: `kind` ("staging" or
// "kept"), the bundle's name and a random token.
std::string freshName(std::string_view kind, const std::string& leaf, std::string* token = nullptr);

}  // namespace tarnwell
