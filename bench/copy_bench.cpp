// The bundle copy against `cp -a` on the same tree, side by side, and the
// peak memory of a process doing nothing but the copy.
//   copy_bench [MEGABYTES=300] [FILES=3000] [DIRECTORY=/var/tmp]

#include "platform/child.h"
#include "platform/copy_tree.h"
#include "platform/executable.h"
#include "platform/tree.h"
#include "stats.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <sys/resource.h>

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
  Child child = Child::spawn({program, args, "", false});
  if (!child.started() || child.wait(std::nullopt) != WaitResult::Ended || child.exitStatus() != 0) {
    std::fprintf(stderr, "copy_bench: %s failed\n", program.c_str());
    std::exit(1);
  }
  return millisSince(start);
}

void settle() { run("/bin/sync", {}); }

// The tool's copy, through descriptors as it installs a bundle.
bool copy(const fs::path& from, const fs::path& to) {
  Fd fromParent, toParent;
  std::string error;
  bool copied = openDirectory(from.parent_path(), &fromParent, &error) && openDirectory(to.parent_path(), &toParent, &error) &&
                copyTree({fromParent.get(), from.filename(), from}, {toParent.get(), to.filename(), to}, &error);
  if (!copied) std::fprintf(stderr, "copy_bench: %s\n", error.c_str());
  return copied;
}

constexpr int kRounds = 5;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--copy-only") {
    return copy(argv[2], argv[3]) ? 0 : 1;
  }
  size_t megabytes = argc > 1 ? std::stoul(argv[1]) : 300;
  int files = argc > 2 ? std::stoi(argv[2]) : 3000;
  fs::path work = fs::path(argc > 3 ? argv[3] : "/var/tmp") / "tarnwell-copy-bench";
  fs::remove_all(work);
  makeBundle(work / "Source.app", megabytes, files);
  settle();

  // Peak memory first, while no other child has run.
  run(executablePath(), {"--copy-only", (work / "Source.app").string(), (work / "Peak.app").string()});
  struct rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  fs::remove_all(work / "Peak.app");
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
  // ru_maxrss counts bytes on macOS and kilobytes on Linux.
#if defined(__APPLE__)
  const double peakKilobytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
#else
  const double peakKilobytes = static_cast<double>(usage.ru_maxrss);
#endif
  std::printf("peak memory of a process doing the copy: %.1f MB\n", peakKilobytes / 1024.0);
  return 0;
}
