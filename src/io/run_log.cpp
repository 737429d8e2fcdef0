#include "io/run_log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace cfit::runlog {

namespace {
std::atomic<std::ostream*> sink{nullptr};
}  // namespace

std::ostream& Stream() {
  std::ostream* out = sink.load(std::memory_order_acquire);
  return out != nullptr ? *out : std::cout;
}

std::ostream* SetSink(std::ostream* newSink) {
  std::ostream* previous = sink.exchange(newSink, std::memory_order_acq_rel);
  return previous;
}

std::string Timestamp() {
  // The asctime layout, built from a reentrant local time so that fitters on
  // several threads do not share asctime's static buffer.
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::string();
  const int day = (local.tm_wday >= 0 && local.tm_wday < 7) ? local.tm_wday : 0;
  const int month = (local.tm_mon >= 0 && local.tm_mon < 12) ? local.tm_mon : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[day], kMonths[month],
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 1900 + local.tm_year);
  return text;
}

void Banner(std::ostream& out, const std::string& title) {
  out << "\n ******************************************\n"
      << title << " ******************************************\n";
}

void StartLine(std::ostream& out, const char* operation, const std::string& file) {
  out << operation << file << " start: " << Timestamp() << "\n";
  out.flush();
}

void EndLine(std::ostream& out, const char* operation, const std::string& file) {
  out << operation << file << "   end: " << Timestamp() << "\n";
  out.flush();
}

}  // namespace cfit::runlog
