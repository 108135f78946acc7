// The bundle copy against `cp -a` on the same tree, side by side, and the
// peak memory of a process doing nothing but the copy.
//   copy_bench [MEGABYTES=300] [FILES=3000] [DIRECTORY=/var/tmp]

#include "copy/copy_tree.h"
#include "copy/remove_tree.h"
#include "platform/child.h"
#include "platform/executable.h"
#include "stats.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

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
void makeBundle(const fs::path& root, size_t megabytes, int files) {
  std::mt19937 random(42);
  std::string block(1 << 20, 'b');
  for (char& c : block) c = static_cast<char>(random());
  size_t smallTotal = 0;
  int frameworks = std::max(1, files / 100);
  for (int i = 0; i < files - 8; ++i) {
    fs::path dir = root / "Contents/Frameworks" / numbered("F", i % frameworks, ".framework") /
                   "Versions/A/Resources" / numbered("r", i % 7);
    fs::create_directories(dir);
    size_t size = 512 + random() % (48 << 10);
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
bool copy(const fs::path& from, const fs::path& to) {
  Fd fromParent, toParent;
  const CopyRules rules{0, [] { return 0; }, [](const std::string&) {}};
  uint64_t entries = 0;
  Result copied = openDirectory(from.parent_path(), &fromParent);
  if (copied) copied = openDirectory(to.parent_path(), &toParent);
  if (copied) {
    copied = copyTree({fromParent.get(), from.filename(), from.parent_path()}, {toParent.get(), to.filename(), to.parent_path()},
                      rules, &entries);
  }
  if (!copied) std::fprintf(stderr, "copy_bench: %s\n", copied.error().c_str());
  return static_cast<bool>(copied);
}

// A chain of `depth` folders, deeper than any path the system takes whole.
void makeChain(const fs::path& root, int depth) {
  fs::create_directories(root);
  Fd at(open(root.c_str(), O_RDONLY | O_DIRECTORY));
  for (int i = 0; i < depth && at.valid(); ++i) {
    mkdirat(at.get(), "level", 0755);
    at.reset(openat(at.get(), "level", O_RDONLY | O_DIRECTORY));
  }
}

// std::filesystem gives up on paths longer than PATH_MAX.
void removeChain(const fs::path& directory, const std::string& name) {
  Fd at(open(directory.c_str(), O_RDONLY | O_DIRECTORY));
  if (Result removed = removeTree(at.get(), name, (directory / name).string()); !removed) {
    std::fprintf(stderr, "copy_bench: %s\n", removed.error().c_str());
  }
}

double peakMegabytes() {
  struct rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
#if defined(__APPLE__)
  return static_cast<double>(usage.ru_maxrss) / (1024.0 * 1024.0);  // bytes there
#else
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes here
#endif
}

// The peak memory of a process of its own that copies `from` to `to`, in
// MB, as it reports it.
double peakOfCopy(const fs::path& from, const fs::path& to) {
  std::string said;
  Child child = Child::spawn({executablePath(), {"--copy-only", from.string(), to.string()}, "",
                              [&said](std::string_view bytes) { said.append(bytes); }});
  if (!child.started() || child.wait(std::nullopt) != WaitResult::Ended || child.terminationStatus() != 0) {
    std::fprintf(stderr, "copy_bench: the copy in a process of its own failed\n");
    std::exit(1);
  }
  child.drainOutput(std::chrono::milliseconds(100));
  return std::stod(said);
}

constexpr int kRounds = 5;
constexpr int kChainDepth = 3000;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--copy-only") {
    if (!copy(argv[2], argv[3])) return 1;
    std::printf("%.1f\n", peakMegabytes());
    return 0;
  }
  size_t megabytes = argc > 1 ? std::stoul(argv[1]) : 300;
  int files = argc > 2 ? std::stoi(argv[2]) : 3000;
  fs::path work = fs::path(argc > 3 ? argv[3] : "/var/tmp") / "tarnwell-copy-bench";
  fs::remove_all(work);
  makeBundle(work / "Source.app", megabytes, files);
  settle();

  double peak = peakOfCopy(work / "Source.app", work / "Peak.app");
  fs::remove_all(work / "Peak.app");
  makeChain(work / "Chain.app", kChainDepth);
  double chainPeak = peakOfCopy(work / "Chain.app", work / "ChainCopy.app");
  removeChain(work, "Chain.app");
  removeChain(work, "ChainCopy.app");
  settle();

  std::vector<double> ours, theirs;
  const std::string source = (work / "Source.app").string(), destination = (work / "Copy.app").string();
  auto copyOurs = [&] {
    auto start = Clock::now();
    if (!copy(source, destination)) std::exit(1);
    ours.push_back(millisSince(start));
  };
  auto copyTheirs = [&] { theirs.push_back(run("/bin/cp", {"-a", source, destination})); };
  // Alternating which goes first, so that neither always meets the other's writeback.
  for (int round = 0; round < kRounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      (turn == round % 2) ? copyOurs() : copyTheirs();
      fs::remove_all(destination);
      settle();
    }
  }
  fs::remove_all(work);

  double ratio = median(ours) / median(theirs);
  std::printf("bundle copy, %zu MB in %d files with links: tool %.0f ms, cp -a %.0f ms (medians of %d), ratio %.2f\n",
              megabytes, files, median(ours), median(theirs), kRounds, ratio);
  std::printf("peak memory of a process doing the copy: %.1f MB\n", peak);
  std::printf("peak memory of a process copying a chain of %d folders: %.1f MB\n", kChainDepth, chainPeak);
  return 0;
}
