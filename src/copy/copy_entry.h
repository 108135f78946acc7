#pragma once

// The per-entry work of a bundle copy, the same on every system: what is
// copied, and what an installed entry is given instead of what the image
// said (owner, group, mode). The calls that differ are in
// platform/system_copy.h.

#include "copy/entry.h"
#include "platform/system_copy.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace tarnwell {

// How far a copy is: the files whose data is copied, and their sizes, as
// they are done, for another thread to read. A line of their own: every
// worker adds to them.
struct alignas(64) CopyCounts {
  std::atomic<uint64_t> files{0}, bytes{0};
};

// What a copy went on without, for the log (a dropped bit, a refused
// attribute): a line a kind, not a line an entry, however many entries
// the image holds. A kind met once is told as it is; one met more often
// by its count, the bundle and a few of the entries. From any thread.
class Notes {
 public:
  // The line `head "PATH"tail`, PATH the shown path of `entry`.
  void add(const std::string& head, const Entry& entry, const std::string& tail = {});
  // Each kind's line, in the order first met; then none are kept.
  void tell(const std::function<void(const std::string&)>& log);

 private:
  // Examples past the first only while they take up to kExampleBytes, so
  // that no line is longer than 64 KiB once escaped.
  static constexpr size_t kExamples = 3, kExampleBytes = 8192, kKinds = 16;
  struct Kind {
    std::string head, tail, item;
    uint64_t count = 0;
    std::vector<std::string> examples;
    size_t exampleBytes = 0;
  };
  std::mutex lock_;
  std::vector<Kind> kinds_;
  uint64_t others_ = 0;  // of kinds past the first kKinds
};

struct CopyRules {
  gid_t group;  // of every installed entry; the owner is root
  StopCheck stopped;
  Notes* notes;
  size_t workers;                // threads that copy files while one walks; none: one thread does all
  CopyCounts* counts = nullptr;  // where the copy counts what it has done, if anywhere
};

// The group an installed bundle belongs to: "admin" where it exists, else 0.
gid_t adminGroup();

// The mode an installed entry gets: writable by its owner at most,
// readable by all, searchable by all when a folder or executable, and
// without the set-user-ID, set-group-ID and sticky bits.
mode_t installedMode(mode_t mode, bool folder);

// Whether an extended attribute (named as on macOS) comes along.
bool attributeKept(std::string_view name);

// Opens the regular file `from` to read it, without following a link or
// waiting on a FIFO: the entry must still be the file the listing saw.
Result openSource(const Entry& from, Fd* in, struct stat* info);

// What the system gives a file the copy creates in a folder: its owner is
// whoever runs the copy, its group `group` (the folder's or the
// process's), and its mode what `umask` leaves of the mode asked for.
// Where that is already the installed owner, group or mode, the file is
// not changed again: on a tree of small files every call counts.
struct Creation {
  mode_t umask;
  gid_t group;
  bool root;  // the copy runs as root: no permission bit stands in its way
};

// Makes `to`, which does not exist yet, like the file open as `in`, whose
// fstat is `info`.
Result copyOpenFile(int in, const struct stat& info, const Entry& from, const Entry& to, const CopyRules& rules,
                    const Creation& creation);

// Makes the link `to` like `from`, whose lstat the walk saw as `listed`.
Result copyLink(const Entry& from, const Entry& to, const struct stat& listed, const CopyRules& rules);

// A folder's own attributes, owner, mode and times, once everything inside
// it is in place (writing its entries would change its times, and its mode
// might refuse them). `from` and `to` are the open folders themselves.
Result finishFolder(const Entry& from, const Entry& to, const struct stat& info, const CopyRules& rules);

}  // namespace tarnwell
