#include "stream/Naming.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <sstream>

#include "batch/OutputName.h"

namespace corvella::stream {

std::string PartNames::NameFor(int number, std::int64_t start) const {
  if (!byClock_) return batch::PartFileName(base_, number);
  const auto offset = std::chrono::duration_cast<SystemClock::duration>(
      std::chrono::duration<double>(static_cast<double>(start) / static_cast<double>(rate_)));
  const batch::NameParts parts = batch::SplitFileName(base_);
  const std::string name = parts.stem + "_" + LocalTimeText(began_ + offset);
  // Two parts begun in the same second: the later one gets a count.
  std::string unique = name + parts.extension;
  for (int again = 2; used_.count(unique) > 0 || (taken_ && taken_(unique)); ++again)
    unique = name + "_" + std::to_string(again) + parts.extension;
  return unique;
}

std::string LocalTimeText(SystemClock::time_point when) {
  const std::time_t seconds = SystemClock::to_time_t(when);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::put_time(&local, "%Y-%m-%d_%H-%M-%S");
  return text.str();
}

SystemClock::time_point RecordingBegan(const std::string& followed, std::int64_t dataOffset,
                                       std::int64_t byteRate) {
  const SystemClock::time_point now = SystemClock::now();
  if (followed.empty() || byteRate <= 0) return now;
  std::error_code error;
  const std::filesystem::path path(std::u8string(followed.begin(), followed.end()));
  const auto size = std::filesystem::file_size(path, error);
  if (error) return now;
  const auto changed = std::filesystem::last_write_time(path, error);
  if (error) return now;
  const auto held = std::chrono::duration<double>(
      static_cast<double>(std::max<std::int64_t>(static_cast<std::int64_t>(size) - dataOffset, 0)) /
      static_cast<double>(byteRate));
  return std::chrono::time_point_cast<SystemClock::duration>(
      std::chrono::file_clock::to_sys(changed) -
      std::chrono::duration_cast<std::chrono::file_clock::duration>(held));
}

}  // namespace corvella::stream
