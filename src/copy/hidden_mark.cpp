#include "copy/hidden_mark.h"

#include "platform/fd.h"
#include "platform/hidden.h"
#include "platform/system_copy.h"

#include <cerrno>

namespace tarnwell {
namespace {

constexpr const char* kFinderInfo = "com.apple.FinderInfo";
constexpr size_t kFinderInfoSize = 32, kFlagsAt = 8;
constexpr unsigned char kInvisible = 0x40;  // the high byte of kIsInvisible, 0x4000

Fd openEntry(int directory, const std::string& name) {
  return Fd(openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// The FinderInfo attribute, or empty when there is none.
int readFinderInfo(int fd, std::string* value) {
  int error = readAttribute(fd, kFinderInfo, value);
  if (error == kNoAttribute || error == ENOTSUP) {
    value->clear();
    return 0;
  }
  return error;
}

}  // namespace

bool finderInfoInvisible(const std::string& finderInfo) {
  return finderInfo.size() == kFinderInfoSize && (static_cast<unsigned char>(finderInfo[kFlagsAt]) & kInvisible) != 0;
}

void clearFinderInfoInvisible(std::string* finderInfo) {
  if (finderInfo->size() == kFinderInfoSize)
    (*finderInfo)[kFlagsAt] = static_cast<char>(static_cast<unsigned char>((*finderInfo)[kFlagsAt]) & ~kInvisible);
}

HiddenMark readHiddenMark(int directory, const std::string& name, const std::string& shown) {
  Fd entry = openEntry(directory, name);
  if (!entry.valid()) return {Result::error("read the hidden mark of", shown, errno)};
  HiddenFlag flag = readHiddenFlag(entry.get());
  if (flag.error) return {Result::error("read the hidden mark of", shown, flag.error)};
  std::string finderInfo;
  if (int error = readFinderInfo(entry.get(), &finderInfo))
    return {Result::error("read the hidden mark of", shown, error)};
  return {{}, flag.hidden || finderInfoInvisible(finderInfo)};
}

Result clearHiddenMark(int directory, const std::string& name, const std::string& shown) {
  Fd entry = openEntry(directory, name);
  if (!entry.valid()) return Result::error("change the hidden mark of", shown, errno);
  if (int error = clearHiddenFlag(entry.get())) return Result::error("change the hidden mark of", shown, error);
  std::string finderInfo;
  if (int error = readFinderInfo(entry.get(), &finderInfo))
    return Result::error("change the hidden mark of", shown, error);
  if (!finderInfoInvisible(finderInfo)) return {};
  clearFinderInfoInvisible(&finderInfo);
  if (int error = writeAttribute(entry.get(), kFinderInfo, finderInfo))
    return Result::error("change the hidden mark of", shown, error);
  return {};
}

}  // namespace tarnwell
