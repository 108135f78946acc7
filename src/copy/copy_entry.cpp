#include "copy/copy_entry.h"

#include "copy/staging.h"
#include "platform/log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

namespace tarnwell {
namespace {

constexpr uid_t kRoot = 0;

Result replaced(const std::string& shown) {
  return Result::failure(describeFailure("copy", shown, "it was replaced while being copied"));
}

// The bits an installed entry loses.
void noteDroppedBits(mode_t mode, const Entry& from, const CopyRules& rules) {
  static constexpr std::pair<mode_t, const char*> kBits[] = {
      {S_ISUID, "set-user-ID"}, {S_ISGID, "set-group-ID"}, {S_ISVTX, "sticky"}};
  for (const auto& [bit, name] : kBits) {
    if (mode & bit) rules.notes->add(std::string("Dropped the ") + name + " bit of", from);
  }
}

Result copyAttributes(int from, int to, const Entry& fromEntry, const Entry& toEntry, const CopyRules& rules) {
  std::vector<std::string> names;
  if (int error = listAttributes(from, &names))
    return Result::error("read the attributes of", fromEntry.shown(), error);
  std::string value;
  for (const std::string& name : names) {
    if (!attributeKept(name)) continue;
    if (int error = readAttribute(from, name, &value)) {
      if (error == kNoAttribute) continue;  // removed meanwhile
      return Result::error("read the attributes of", fromEntry.shown(), error);
    }
    if (int error = writeAttribute(to, name, value)) {
      // The system's own attributes may be refused where it keeps them to
      // itself (com.apple.provenance on every file of an image made on
      // macOS 13 and later: EACCES); the bundle works without them.
      if (name.starts_with("com.apple.") && (error == EPERM || error == ENOTSUP || error == EACCES)) {
        rules.notes->add("Skipped the attribute " + escapeText(name) + " of", toEntry,
                         std::string(": ") + std::strerror(error));
        continue;
      }
      return Result::error("write the attributes of", toEntry.shown(), error);
    }
  }
  return {};
}

// Owner, mode, flags and times go last: the times would change with
// anything written after them. Without root the owner stays the copier's.
// A file created with its installed owner or mode keeps it.
Result finish(int fd, const struct stat& info, bool folder, const Entry& shownAs, const CopyRules& rules,
              const Creation* creation = nullptr) {
  const mode_t mode = installedMode(info.st_mode, folder);
  if ((!creation || !creation->root || creation->group != rules.group) && fchown(fd, kRoot, rules.group) != 0 &&
      errno != EPERM) {
    return Result::error("change the owner of", shownAs.shown(), errno);
  }
  if ((!creation || !creation->root || (mode & creation->umask) != 0) && fchmod(fd, mode) != 0) {
    return Result::error("change the mode of", shownAs.shown(), errno);
  }
  if (int error = copyFlags(fd, info)) return Result::error("set the flags of", shownAs.shown(), error);
  const EntryTimes times(info);
  if (futimens(fd, times.both) != 0) return Result::error("set the times of", shownAs.shown(), errno);
  return {};
}

}  // namespace

void Notes::add(const std::string& head, const Entry& entry, const std::string& tail) {
  std::lock_guard<std::mutex> hold(lock_);
  auto kind =
      std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& k) { return k.head == head && k.tail == tail; });
  if (kind == kinds_.end()) {
    if (kinds_.size() == kKinds) {
      ++others_;
      return;
    }
    // The bundle: the walk's first level.
    const PathNode* top = entry.where;
    while (top && top->depth > 1) top = top->parent.get();
    kind = kinds_.insert(
        kind, {head, tail, top && top->depth == 1 ? shownPath(top->parent.get(), top->name) : entry.shown(), 0, {}, 0});
  }
  if (++kind->count > kExamples) return;
  std::string shown = entry.shown();
  if (!kind->examples.empty() && kind->exampleBytes + shown.size() > kExampleBytes) return;
  kind->exampleBytes += shown.size();
  kind->examples.push_back(std::move(shown));
}

void Notes::tell(const std::function<void(const std::string&)>& log) {
  std::lock_guard<std::mutex> hold(lock_);
  for (const Kind& kind : kinds_) {
    if (kind.count == 1) {
      log(kind.head + " \"" + escapeText(kind.examples[0]) + "\"" + kind.tail);
    } else {
      log(kind.head + " " + std::to_string(kind.count) + " entries of \"" + escapeText(kind.item) + "\", among them " +
          renderList(kind.examples) + kind.tail);
    }
  }
  if (others_ > 0) log("Left out " + std::to_string(others_) + " more notes like these, of other kinds");
  kinds_.clear();
  others_ = 0;
}

gid_t adminGroup() {
  struct group entry, *found = nullptr;
  std::vector<char> buffer(16384);
  if (getgrnam_r("admin", &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->gr_gid;
  return 0;
}

mode_t installedMode(mode_t mode, bool folder) {
  mode_t installed = (mode & 0755) | 0444;
  if (folder || (mode & 0111)) installed |= 0111;
  return installed;
}

bool attributeKept(std::string_view name) {
  // A quarantined bundle would ask every user before it runs, and run
  // translocated; the staging mark belongs to the tool's own folders.
  return name != "com.apple.quarantine" && name != kStagingMark;
}

Result openSource(const Entry& from, Fd* in, struct stat* info) {
  // O_NONBLOCK: a FIFO put in the file's place must not hold the open.
  in->reset(openat(from.directory, from.name.data(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!in->valid()) return errno == ELOOP ? replaced(from.shown()) : Result::error("open", from.shown(), errno);
  if (fstat(in->get(), info) != 0) return Result::error("open", from.shown(), errno);
  if (!S_ISREG(info->st_mode)) return replaced(from.shown());
  return {};
}

Result copyOpenFile(int in, const struct stat& info, const Entry& from, const Entry& to, const CopyRules& rules,
                    const Creation& creation) {
  // Made with its installed mode at once; a mode without write for the
  // owner does not stop the copy, which writes through this descriptor.
  const mode_t mode = creation.root ? installedMode(info.st_mode, false) : 0600;
  Fd out(openat(to.directory, to.name.data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!out.valid()) return Result::error("create", to.shown(), errno);
  if (DataCopy copied = copyFileData(in, out.get(), info, rules.stopped); copied.signal) {
    return Result::failure(describeStop("copy", from.shown(), copied.signal));
  } else if (copied.error) {
    return Result::error(copied.writing ? "write" : "copy", copied.writing ? to.shown() : from.shown(), copied.error);
  }
  if (rules.counts) {
    rules.counts->files.fetch_add(1, std::memory_order_relaxed);
    rules.counts->bytes.fetch_add(static_cast<uint64_t>(info.st_size), std::memory_order_relaxed);
  }
  if (Result copied = copyAttributes(in, out.get(), from, to, rules); !copied) return copied;
  noteDroppedBits(info.st_mode, from, rules);
  return finish(out.get(), info, false, to, rules, &creation);
}

Result copyLink(const Entry& from, const Entry& to, const struct stat& listed, const CopyRules& rules) {
  std::string target(static_cast<size_t>(std::max<off_t>(listed.st_size, 0)) + 1, '\0');
  ssize_t n = readlinkat(from.directory, from.name.data(), target.data(), target.size());
  if (n < 0 && errno == EINVAL) return replaced(from.shown());
  if (n < 0) return Result::error("read the link", from.shown(), errno);
  if (static_cast<size_t>(n) >= target.size()) return replaced(from.shown());  // it grew since it was looked at
  target.resize(static_cast<size_t>(n));
  if (symlinkat(target.c_str(), to.directory, to.name.data()) != 0)
    return Result::error("create the link", to.shown(), errno);
  if (fchownat(to.directory, to.name.data(), kRoot, rules.group, AT_SYMLINK_NOFOLLOW) != 0 && errno != EPERM) {
    return Result::error("change the owner of", to.shown(), errno);
  }
  Fd fromLink = openLinkItself(from.directory, from.name.data());
  Fd toLink = openLinkItself(to.directory, to.name.data());
  if (fromLink.valid() && toLink.valid()) {
    if (Result copied = copyAttributes(fromLink.get(), toLink.get(), from, to, rules); !copied) return copied;
  }
  const EntryTimes times(listed);
  if (utimensat(to.directory, to.name.data(), times.both, AT_SYMLINK_NOFOLLOW) != 0) {
    return Result::error("set the times of", to.shown(), errno);
  }
  return {};
}

Result finishFolder(const Entry& from, const Entry& to, const struct stat& info, const CopyRules& rules) {
  if (Result copied = copyAttributes(from.directory, to.directory, from, to, rules); !copied) return copied;
  noteDroppedBits(info.st_mode, from, rules);
  return finish(to.directory, info, true, to, rules);
}

}  // namespace tarnwell
