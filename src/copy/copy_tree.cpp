#include "copy/copy_tree.h"

#include "copy/directory_chain.h"
#include "copy/listing.h"
#include "copy/work_queue.h"
#include "platform/path.h"

#include <atomic>
#include <cerrno>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {
namespace {

// Read before any worker starts: there is no call that only reads it.
mode_t currentUmask() {
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// Jobs waiting for a worker, for each worker: enough to keep them busy,
// few enough that the folders they hold open stay few.
constexpr size_t kQueuedPerWorker = 4;
// Files a job copies, one after the other, from one folder.
constexpr size_t kBatch = 32;
// A file this large is copied by one worker while another takes the rest
// of its batch.
constexpr off_t kLargeFile = off_t{1} << 20;

// A folder of the copy whose own metadata waits for everything in it: the
// walk holds it while it lists the folder, and each file job given from it
// holds it until the file is copied. The last to let go finishes it.
struct Folder {
  struct stat info;
  Where fromWhere, toWhere;
  std::shared_ptr<const Fd> from, to;  // set when the walk leaves it
  std::atomic<int> holds{1};
};

// A file with more than one name: the first name to be copied makes the
// copy, and the others wait until it is complete and link to it.
struct FirstCopy {
  enum State { Copying, Done, Failed } state = Copying;
  DirectoryChain::Identity directory;
  Where where;  // of the folder it is in
  std::string name;
};

class TreeCopy {
 public:
  TreeCopy(const Place& from, const Place& to, const CopyRules& rules)
      : from_(from.directory, from.directoryShown),
        to_(to.directory, to.directoryShown),
        rules_(rules),
        umask_(currentUmask()),
        root_(geteuid() == 0),
        queue_(rules.workers, rules.workers * kQueuedPerWorker) {}

  Result run(const Place& from, const Place& to) {
    guarded([&] { walk(from, to); });
    queue_.drain();
    std::lock_guard<std::mutex> hold(failure_);
    if (thrown_) std::rethrow_exception(thrown_);
    return first_;
  }

  uint64_t made() const { return made_; }

 private:
  struct Level {
    Listing listing;
    std::shared_ptr<Folder> folder;
    std::string batch;  // files not yet given, each name followed by a NUL
    size_t batched = 0;
  };

  void walk(const Place& from, const Place& to) {
    if (Result first = visitRoot(from.name, to.name); !first) return fail(first);
    while (!levels_.empty() && !failed_) {
      std::string_view name;
      unsigned char type;
      if (levels_.back().listing.next(&name, &type)) {
        if (Result copied = visit(name, type); !copied) return fail(copied);
        continue;
      }
      giveBatch();
      std::shared_ptr<Folder> folder = std::move(levels_.back().folder);
      levels_.pop_back();
      folder->from = from_.sharedFd();
      folder->to = to_.sharedFd();
      release(*folder);
      if (Result up = from_.pop(); !up) return fail(up);
      if (Result up = to_.pop(); !up) return fail(up);
    }
  }

  Result visitRoot(const std::string& fromName, const std::string& toName) {
    const Entry from{from_.fd(), fromName, from_.where().get()}, to{to_.fd(), toName, to_.where().get()};
    struct stat info;
    if (!statEntry(from.directory, fromName, &info)) return Result::error("copy", from.shown(), errno);
    if (S_ISDIR(info.st_mode)) return enter(fromName, toName);
    Result copied;
    Fd in;
    if (S_ISLNK(info.st_mode)) {
      copied = copyLink(from, to, info, rules_);
    } else if (!S_ISREG(info.st_mode)) {
      copied = notCopied(from);
    } else if ((copied = openSource(from, &in, &info))) {
      copied = copyOpenFile(in.get(), info, from, to, rules_, {umask_, static_cast<gid_t>(-1), root_});
    }
    if (copied) ++made_;
    return copied;
  }

  Result visit(std::string_view name, unsigned char type) {
    const Entry from{from_.fd(), name, from_.where().get()};
    if (int signal = rules_.stopped()) return Result::failure(describeStop("copy", from.shown(), signal));
    struct stat info;
    if (type != DT_DIR && type != DT_REG) {
      if (!statEntry(from.directory, name, &info)) return Result::error("copy", from.shown(), errno);
      type = S_ISDIR(info.st_mode)   ? DT_DIR
             : S_ISLNK(info.st_mode) ? DT_LNK
             : S_ISREG(info.st_mode) ? DT_REG
                                     : DT_UNKNOWN;
    }
    switch (type) {
      case DT_DIR:
        giveBatch();  // the workers go on while the walk is below
        return enter(name, name);
      case DT_REG: {
        Level& level = levels_.back();
        level.batch.append(name.data(), name.size() + 1);
        if (++level.batched == kBatch) giveBatch();
        return {};
      }
      case DT_LNK: {
        Result copied = copyLink(from, {to_.fd(), name, to_.where().get()}, info, rules_);
        if (copied) ++made_;
        return copied;
      }
      default: return notCopied(from);
    }
  }

  // Devices, sockets and pipes have no place in a bundle.
  static Result notCopied(const Entry& from) {
    return Result::failure(describeFailure("copy", from.shown(), "it is not a file, folder or link"));
  }

  Result enter(std::string_view fromName, std::string_view toName) {
    if (from_.depth() >= kMaxDepth) {
      return Result::failure(describeFailure("copy", from_.shown(fromName),
                                             "it nests deeper than " + std::to_string(kMaxDepth) + " levels"));
    }
    if (Result down = from_.push(fromName); !down) return down;
    if (mkdirat(to_.fd(), toName.data(), 0700) != 0) return Result::error("create", to_.shown(toName), errno);
    ++made_;
    if (Result down = to_.push(toName); !down) return down;
    auto folder = std::make_shared<Folder>();
    folder->info = from_.info();
    folder->fromWhere = from_.where();
    folder->toWhere = to_.where();
    levels_.push_back({{}, std::move(folder), {}, 0});
    return Listing::read(from_.fd(), from_.shown(), &levels_.back().listing);
  }

  // Files of one folder for a worker, with what it needs: the descriptors
  // of the two folders, and where they are for the log.
  struct Batch {
    std::shared_ptr<Folder> folder;
    std::shared_ptr<const Fd> from, to;
    DirectoryChain::Identity identity;
    Creation creation;
    std::string names;  // each followed by a NUL
    size_t next = 0;
  };

  // Hands the files listed so far in the current folder to a worker. A
  // worker takes a folder's files a batch at a time: two threads making
  // files in one folder mostly wait for each other.
  void giveBatch() {
    Level& level = levels_.back();
    if (level.batched == 0) return;
    auto batch = std::make_shared<Batch>(Batch{level.folder,
                                               from_.sharedFd(),
                                               to_.sharedFd(),
                                               to_.identity(),
                                               {umask_, groupOfNewEntries(to_.info()), root_},
                                               std::move(level.batch)});
    level.folder->holds.fetch_add(1, std::memory_order_relaxed);
    level.batch.clear();
    level.batched = 0;
    queue_.give([this, batch] { guarded([&] { copyBatch(batch); }); });
  }

  void copyBatch(const std::shared_ptr<Batch>& batch) {
    Batch& files = *batch;
    while (files.next < files.names.size() && !failed_) {
      const std::string_view name(files.names.data() + files.next);
      files.next += name.size() + 1;
      const Entry from{files.from->get(), name, files.folder->fromWhere.get()};
      const Entry to{files.to->get(), name, files.folder->toWhere.get()};
      Fd in;
      struct stat info;
      Result copied = rules_.stopped() ? Result::failure(describeStop("copy", from.shown(), rules_.stopped()))
                                       : openSource(from, &in, &info);
      if (copied && info.st_size >= kLargeFile && files.next < files.names.size()) {
        // The rest of the batch goes to another worker meanwhile.
        auto rest = std::make_shared<Batch>(
            Batch{files.folder, files.from, files.to, files.identity, files.creation, files.names.substr(files.next)});
        files.names.resize(files.next);
        files.folder->holds.fetch_add(1, std::memory_order_relaxed);
        queue_.giveFirst([this, rest] { guarded([&] { copyBatch(rest); }); });
      }
      if (copied)
        copied = info.st_nlink > 1
                     ? copyLinked(in.get(), info, from, to, files.identity, files.folder->toWhere, files.creation)
                     : copyOpenFile(in.get(), info, from, to, rules_, files.creation);
      if (!copied)
        fail(copied);
      else if (info.st_nlink == 1)
        ++made_;
    }
    release(*files.folder);
  }

  Result copyLinked(int in, const struct stat& info, const Entry& from, const Entry& to,
                    DirectoryChain::Identity toIdentity, const Where& toWhere, const Creation& creation) {
    std::unique_lock<std::mutex> hold(linksLock_);
    // Not a structured binding: clang 14 lets no lambda capture one.
    const auto emplaced = links_.try_emplace({info.st_dev, info.st_ino});
    const auto first = emplaced.first;
    const bool isFirst = emplaced.second;
    if (isFirst) {
      first->second = {FirstCopy::Copying, toIdentity, nullptr, std::string(to.name)};
      hold.unlock();
      Result copied = copyOpenFile(in, info, from, to, rules_, creation);
      hold.lock();
      first->second.state = copied ? FirstCopy::Done : FirstCopy::Failed;
      first->second.where = toWhere;
      linked_.notify_all();
      if (copied) ++made_;
      return copied;
    }
    linked_.wait(hold, [&] { return first->second.state != FirstCopy::Copying || failed_; });
    const FirstCopy copy = first->second;
    hold.unlock();
    if (copy.state != FirstCopy::Done) return {};  // the first copy's failure is the one told
    Fd directory;
    int at = to.directory;
    if (!(copy.directory == toIdentity)) {
      if (Result opened = openFrom(to.directory, toWhere.get(), copy.where.get(), &directory, to); !opened)
        return opened;
      at = directory.get();
    }
    if (linkat(at, copy.name.c_str(), to.directory, to.name.data(), 0) != 0)
      return Result::error("link", to.shown(), errno);
    ++made_;
    return {};
  }

  // Opens the folder at `target` from the open folder `here` (both in the
  // copy, which nobody else can change): up through ".." to the nearest
  // folder they share, then down by name. Any depth will do, and the work
  // is the distance between the two, not their depth.
  static Result openFrom(int here, const PathNode* at, const PathNode* target, Fd* opened, const Entry& to) {
    size_t up = 0;
    std::vector<const PathNode*> down;
    for (; at->depth > target->depth; at = at->parent.get()) ++up;
    for (; target->depth > at->depth; target = target->parent.get()) down.push_back(target);
    for (; at != target; at = at->parent.get(), target = target->parent.get()) {
      ++up;
      down.push_back(target);
    }
    Fd folder;
    auto step = [&](const char* name) {
      folder.reset(openat(folder.valid() ? folder.get() : here, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      return folder.valid();
    };
    for (size_t i = 0; i < up; ++i) {
      if (!step("..")) return Result::error("link", to.shown(), errno);
    }
    for (auto node = down.rbegin(); node != down.rend(); ++node) {
      if (!step((*node)->name.c_str())) return Result::error("link", to.shown(), errno);
    }
    *opened = std::move(folder);
    return {};
  }

  void release(Folder& folder) {
    if (folder.holds.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (failed_) return;
    const Entry from{folder.from->get(), {}, folder.fromWhere.get()}, to{folder.to->get(), {}, folder.toWhere.get()};
    if (Result done = finishFolder(from, to, folder.info, rules_); !done) fail(done);
  }

  void fail(const Result& failure) {
    std::lock_guard<std::mutex> hold(failure_);
    if (first_) first_ = failure;
    failed_ = true;
  }

  // Memory refused on any thread ends the copy: run() throws it again on
  // the caller's thread, where it is handled. A link waiting for a first
  // copy that threw is woken.
  template <typename Work>
  void guarded(Work&& work) noexcept {
    try {
      work();
    } catch (...) {
      {
        std::lock_guard<std::mutex> hold(failure_);
        if (!thrown_) thrown_ = std::current_exception();
        failed_ = true;
      }
      { std::lock_guard<std::mutex> links(linksLock_); }
      linked_.notify_all();
    }
  }

  DirectoryChain from_, to_;
  const CopyRules& rules_;
  const mode_t umask_;
  const bool root_;
  std::deque<Level> levels_;  // references stay put as it grows

  std::mutex failure_;
  Result first_;
  std::exception_ptr thrown_;
  std::atomic<bool> failed_{false};
  std::atomic<uint64_t> made_{0};

  std::mutex linksLock_;
  std::condition_variable linked_;
  std::map<std::pair<dev_t, ino_t>, FirstCopy> links_;

  WorkQueue queue_;  // last: its workers are gone before anything they use
};

}  // namespace

Result copyTree(const Place& from, const Place& to, const CopyRules& rules, uint64_t* entries) {
  // In a folder private to the tool, the usual umask lets most entries be
  // created with their installed mode; the tool's own, 077, would take a
  // chmod for each. Set before the workers start, restored once they end.
  const mode_t ownUmask = umask(022);
  Result copied;
  {
    TreeCopy copy(from, to, rules);
    copied = copy.run(from, to);
    *entries = copy.made();
  }
  umask(ownUmask);
  return copied;
}

Result countTree(int directory, const std::string& name, const std::string& shown, uint64_t* entries) {
  *entries = 0;
  struct stat info;
  if (!statEntry(directory, name, &info)) return Result::error("open", shown, errno);
  *entries = 1;
  if (!S_ISDIR(info.st_mode)) return {};
  DirectoryChain chain(directory, splitPath(shown).parent);
  if (Result down = chain.push(name); !down) return down;
  std::deque<Listing> listings(1);
  if (Result listed = Listing::read(chain.fd(), chain.shown(), &listings.back()); !listed) return listed;
  while (!listings.empty()) {
    std::string_view entry;
    unsigned char type;
    if (!listings.back().next(&entry, &type)) {
      listings.pop_back();
      if (Result up = chain.pop(); !up) return up;
      continue;
    }
    ++*entries;
    struct stat entryInfo;
    bool folder = type == DT_DIR ||
                  (type == DT_UNKNOWN && statEntry(chain.fd(), entry, &entryInfo) && S_ISDIR(entryInfo.st_mode));
    if (!folder) continue;
    if (Result down = chain.push(entry); !down) return down;
    listings.emplace_back();
    if (Result listed = Listing::read(chain.fd(), chain.shown(), &listings.back()); !listed) return listed;
  }
  return {};
}

}  // namespace tarnwell
