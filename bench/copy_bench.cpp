// The bundle copy against `cp -a` on the same tree, side by side: with the
// workers the tool uses and with one thread, in rounds that take turns
// going first; then the peak memory and descriptors of a process doing
// nothing but the copy, and of one copying a chain of 3000 folders.
//   copy_bench [MEGABYTES=300] [FILES=3000] [DIRECTORY=/var/tmp] [WORKERS]
// With --shapes DIRECTORY, the time and peak memory of trees of hostile
// shapes instead (shapes() below).

#include "copy/copy_tree.h"
#include "copy/directory_chain.h"
#include "copy/remove_tree.h"
#include "copy/work_queue.h"
#include "platform/child.h"
#include "platform/executable.h"
#include "stats.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace tarnwell;
using namespace tarnwell::bench;
namespace fs = std::filesystem;

namespace {

// g++ 12 warns falsely (-Wrestrict) on "literal" + std::to_string(n) at -O3.
std::string numbered(const char* stem, long n, const char* suffix = "") {
  std::string name = stem;
  name += std::to_string(n);
  name += suffix;
  return name;
}

// Frameworks with versioned directories and links, many small files and a
// few large ones, as application bundles are.
// The small files share the size asked for when there are many of them.
void makeBundle(const fs::path& root, size_t megabytes, int files) {
  std::mt19937 random(42);
  const size_t smallMost =
      std::clamp<size_t>(2 * (megabytes << 20) / static_cast<size_t>(files), 2048, 48 << 10) - 1024;
  std::string block(1 << 20, 'b');
  for (char& c : block) c = static_cast<char>(random());
  size_t smallTotal = 0;
  int frameworks = std::max(1, files / 100);
  for (int i = 0; i < files - 8; ++i) {
    fs::path dir = root / "Contents/Frameworks" / numbered("F", i % frameworks, ".framework") / "Versions/A/Resources" /
                   numbered("r", i % 7);
    fs::create_directories(dir);
    size_t size = 512 + random() % smallMost;
    std::ofstream(dir / numbered("file", i)).write(block.data(), static_cast<std::streamsize>(size));
    smallTotal += size;
  }
  for (int f = 0; f < frameworks; ++f) {
    fs::path framework = root / "Contents/Frameworks" / numbered("F", f, ".framework");
    fs::create_directory_symlink("A", framework / "Versions/Current");
    fs::create_directory_symlink("Versions/Current/Resources", framework / "Resources");
  }
  size_t large = (megabytes << 20) > smallTotal ? ((megabytes << 20) - smallTotal) / 8 : 0;
  fs::create_directories(root / "Contents/MacOS");
  for (int i = 0; i < 8; ++i) {
    std::ofstream out(root / "Contents/MacOS" / numbered("binary", i));
    for (size_t written = 0; written < large; written += block.size()) {
      out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), large - written)));
    }
  }
}

double run(const std::string& program, const std::vector<std::string>& args) {
  auto start = Clock::now();
  Child child = Child::spawn({program, args, "", {}});
  if (!child.started() || child.wait(std::nullopt) != WaitResult::Ended || child.terminationStatus() != 0) {
    std::fprintf(stderr, "copy_bench: %s failed\n", program.c_str());
    std::exit(1);
  }
  return millisSince(start);
}

void settle() { run("/bin/sync", {}); }

// The tool's copy, through descriptors as it installs a bundle.
bool copyWithTool(const fs::path& from, const fs::path& to, size_t workers) {
  Fd fromParent, toParent;
  CopyCounts counts;  // counted as the tool counts them
  Notes notes;
  const CopyRules rules{0, [] { return 0; }, &notes, workers, &counts};
  uint64_t entries = 0;
  Result copied = openDirectory(from.parent_path(), &fromParent);
  if (copied) copied = openDirectory(to.parent_path(), &toParent);
  if (copied) {
    copied = copyTree({fromParent.get(), from.filename(), from.parent_path()},
                      {toParent.get(), to.filename(), to.parent_path()}, rules, &entries);
  }
  if (!copied) std::fprintf(stderr, "copy_bench: %s\n", copied.error().c_str());
  return static_cast<bool>(copied);
}

// A chain of `depth` folders named `name`, deeper than any path the system
// takes whole, with `links` hard links in each to a file at the top.
void makeChain(const fs::path& root, int depth, const std::string& name = "level", int links = 0) {
  fs::create_directories(root);
  Fd top(open(root.c_str(), O_RDONLY | O_DIRECTORY)), at(dup(top.get()));
  if (links > 0) close(openat(top.get(), "file", O_WRONLY | O_CREAT, 0644));
  for (int i = 0; i < depth && at.valid(); ++i) {
    mkdirat(at.get(), name.c_str(), 0755);
    at.reset(openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY));
    for (int link = 0; link < links; ++link) linkat(top.get(), "file", at.get(), numbered("link", link).c_str(), 0);
  }
}

// std::filesystem gives up on paths longer than PATH_MAX.
bool removeChain(const fs::path& directory, const std::string& name) {
  Fd at(open(directory.c_str(), O_RDONLY | O_DIRECTORY));
  Removal removal;
  removeTree(at.get(), name, (directory / name).string(), &removal);
  Result removed = removal.result();
  if (!removed) std::fprintf(stderr, "copy_bench: %s\n", removed.error().c_str());
  return static_cast<bool>(removed);
}

double peakMegabytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
#if defined(__APPLE__)
  return static_cast<double>(usage.ru_maxrss) / (1024.0 * 1024.0);  // bytes there
#else
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes here
#endif
}

int openDescriptors() {
#if defined(__APPLE__)
  DIR* listing = opendir("/dev/fd");
#else
  DIR* listing = opendir("/proc/self/fd");
#endif
  int count = -1;  // the listing's own
  while (listing && readdir(listing)) ++count;
  if (listing) closedir(listing);
  return count - 2;  // "." and ".."
}

// A copy or a removal in a process of its own, which reports its peak
// memory and the most descriptors it held (looked at every millisecond);
// its time includes the start.
struct Peak {
  double megabytes;
  int descriptors;
  double millis;
};

// The work named by `args` in a process of its own, which reports its
// peak memory and the most descriptors it held (looked at every
// millisecond).
Peak inChild(const std::vector<std::string>& args) {
  std::string said, self;
  if (!executablePath(&self)) {
    std::fprintf(stderr, "copy_bench: cannot find its own executable\n");
    std::exit(1);
  }
  auto start = Clock::now();
  Child child = Child::spawn({self, args, "", [&said](std::string_view bytes) { said.append(bytes); }});
  if (!child.started() || child.wait(std::nullopt) != WaitResult::Ended || child.terminationStatus() != 0) {
    std::fprintf(stderr, "copy_bench: %s in a process of its own failed\n", args[0].c_str());
    std::exit(1);
  }
  Peak peak{0, 0, millisSince(start)};
  child.drainOutput(std::chrono::milliseconds(100));
  std::sscanf(said.c_str(), "%lf %d", &peak.megabytes, &peak.descriptors);
  return peak;
}

Peak peakOfCopy(const fs::path& from, const fs::path& to, size_t workers) {
  return inChild({"--copy-only", from.string(), to.string(), std::to_string(workers)});
}

int reportPeak(const std::function<bool()>& work) {
  std::atomic<bool> done{false};
  std::atomic<int> most{0};
  std::thread watcher([&] {
    while (!done) {
      most = std::max(most.load(), openDescriptors());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  bool worked = work();
  done = true;
  watcher.join();
  if (!worked) return 1;
  std::printf("%.1f %d\n", peakMegabytes(), most.load());
  return 0;
}

// Trees whose shape, not their size, once cost time or memory: hard links
// deep down a chain, one wide folder of long names, many files with two
// names, a chain far deeper than a copy goes.
int shapes(const fs::path& place, size_t workers) {
  const fs::path work = place / "tarnwell-shape-bench";
  fs::remove_all(work);
  makeChain(work / "Linked.app", 4095, "level", 4);
  Peak linked = peakOfCopy(work / "Linked.app", work / "LinkedCopy.app", workers);
  fs::create_directories(work / "Wide.app");
  for (int i = 0; i < 50000; ++i) {
    const std::string number = std::to_string(i);
    std::ofstream(work / "Wide.app" / (std::string(255 - number.size(), 'n') + number));
  }
  Peak wide = peakOfCopy(work / "Wide.app", work / "WideCopy.app", workers);
  fs::create_directories(work / "Twice.app/a");
  fs::create_directories(work / "Twice.app/b");
  for (int i = 0; i < 300000; ++i) {
    std::ofstream(work / "Twice.app/a" / numbered("f", i));
    fs::create_hard_link(work / "Twice.app/a" / numbered("f", i), work / "Twice.app/b" / numbered("f", i));
  }
  Peak twice = peakOfCopy(work / "Twice.app", work / "TwiceCopy.app", workers);
  makeChain(work / "Deep.app", 100000, std::string(255, 'd'));
  Peak deep = inChild({"--remove-only", work.string(), "Deep.app"});
  removeChain(work, "Linked.app");
  removeChain(work, "LinkedCopy.app");
  fs::remove_all(work);
  std::printf("copy of a chain of 4096 folders, 4 hard links in each to one file: %.0f ms, %.1f MB\n", linked.millis,
              linked.megabytes);
  std::printf("copy of one folder of 50,000 names of 255 bytes: %.0f ms, %.1f MB\n", wide.millis, wide.megabytes);
  std::printf("copy of 300,000 files with two names each: %.0f ms, %.1f MB\n", twice.millis, twice.megabytes);
  std::printf("removal of a chain of 100,000 folders named with 255 bytes: %.0f ms, %.1f MB\n", deep.millis,
              deep.megabytes);
  return 0;
}

constexpr int kRounds = 5;
constexpr int kChainDepth = 3000;

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 5 && mode == "--copy-only")
    return reportPeak([&] { return copyWithTool(argv[2], argv[3], std::stoul(argv[4])); });
  if (argc == 4 && mode == "--remove-only") return reportPeak([&] { return removeChain(argv[2], argv[3]); });
  if (argc == 3 && mode == "--shapes") return shapes(argv[2], WorkQueue::defaultWorkers());
  size_t megabytes = argc > 1 ? std::stoul(argv[1]) : 300;
  int files = argc > 2 ? std::stoi(argv[2]) : 3000;
  const fs::path place = argc > 3 ? argv[3] : "/var/tmp";
  const size_t workers = argc > 4 ? std::stoul(argv[4]) : WorkQueue::defaultWorkers();
  const fs::path work = place / "tarnwell-copy-bench";
  fs::remove_all(work);
  makeBundle(work / "Source.app", megabytes, files);
  settle();

  const std::string source = (work / "Source.app").string(), destination = (work / "Copy.app").string();
  std::vector<double> ours, alone, theirs;
  const std::vector<std::function<void()>> copiers = {
      [&] {
        auto start = Clock::now();
        if (!copyWithTool(source, destination, workers)) std::exit(1);
        ours.push_back(millisSince(start));
      },
      [&] {
        theirs.push_back(run("/bin/cp", {"-a", source, destination}));
      },
      [&] {
        auto start = Clock::now();
        if (!copyWithTool(source, destination, 0)) std::exit(1);
        alone.push_back(millisSince(start));
      },
  };
  // Each round starts with another copier, so that none always meets the
  // others' writeback or the first touch of memory.
  for (int round = 0; round < kRounds; ++round) {
    for (size_t turn = 0; turn < copiers.size(); ++turn) {
      copiers[(turn + static_cast<size_t>(round)) % copiers.size()]();
      fs::remove_all(destination);
      settle();
    }
  }
  Peak peak = peakOfCopy(work / "Source.app", work / "Peak.app", workers);
  fs::remove_all(work / "Peak.app");
  Peak alonePeak = peakOfCopy(work / "Source.app", work / "Peak.app", 0);
  fs::remove_all(work / "Peak.app");
  makeChain(work / "Chain.app", kChainDepth);
  Peak chain = peakOfCopy(work / "Chain.app", work / "ChainCopy.app", workers);
  removeChain(work, "Chain.app");
  removeChain(work, "ChainCopy.app");
  fs::remove_all(work);

  std::printf(
      "bundle copy, %zu MB in %d files with links, in %s: tool %.0f ms with %zu workers, cp -a %.0f ms "
      "(medians of %d rounds), ratio %.2f\n",
      megabytes, files, place.c_str(), median(ours), workers, median(theirs), kRounds, median(ours) / median(theirs));
  std::printf("the same on one thread: %.0f ms, ratio %.2f\n", median(alone), median(alone) / median(theirs));
  std::printf("peak of the copy: %.1f MB and %d descriptors with %zu workers; %.1f MB and %d on one thread\n",
              peak.megabytes, peak.descriptors, workers, alonePeak.megabytes, alonePeak.descriptors);
  std::printf("peak of a copy of a chain of %d folders: %.1f MB and %d descriptors\n", kChainDepth, chain.megabytes,
              chain.descriptors);
  return 0;
}
