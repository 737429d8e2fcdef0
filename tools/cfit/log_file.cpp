#include "log_file.h"

#include <iostream>

#include "common.h"

namespace cfit_tool {

LogFile::Tee::int_type LogFile::Tee::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  if (first_ != nullptr) first_->sputc(ch);
  if (second_ != nullptr) second_->sputc(ch);
  return c;
}

std::streamsize LogFile::Tee::xsputn(const char* text, std::streamsize count) {
  if (first_ != nullptr) first_->sputn(text, count);
  if (second_ != nullptr) second_->sputn(text, count);
  return count;
}

int LogFile::Tee::sync() {
  int result = 0;
  if (first_ != nullptr && first_->pubsync() != 0) result = -1;
  if (second_ != nullptr && second_->pubsync() != 0) result = -1;
  return result;
}

LogFile::LogFile(const std::string& path, bool echo)
    : path_(path),
      original_(std::cout.rdbuf()),
      tee_(path.empty() ? nullptr : file_.rdbuf(), echo ? original_ : nullptr) {
  if (!path.empty()) {
    file_.open(path, std::ios::out | std::ios::trunc);
    if (!file_) throw Failure("cannot open the log file " + path);
  }
  std::cout.rdbuf(&tee_);
  open_ = true;
}

LogFile::~LogFile() { Close(); }

void LogFile::Note(const std::string& text) {
  if (open_ && file_.is_open()) file_ << text << std::flush;
}

void LogFile::Close() {
  if (!open_) return;
  std::cout.flush();
  std::cout.rdbuf(original_);
  if (file_.is_open()) file_.close();
  open_ = false;
}

}  // namespace cfit_tool
