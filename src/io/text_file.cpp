#include "io/text_file.h"

#include <climits>
#include <cstdarg>

#include "io/number_scan.h"

namespace cfit {

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// An optional sign and decimal digits at p. Returns the position after the
// digits, or null when no digit follows the sign.
const char* ScanInteger(const char* p, const char* end, long* value) {
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || *p < '0' || *p > '9') return nullptr;
  // Accumulated as a negative number, whose range includes LONG_MIN.
  long result = 0;
  bool clamped = false;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    const int digit = *p - '0';
    if (clamped) continue;
    if (result < (LONG_MIN + digit) / 10) {
      clamped = true;
      result = LONG_MIN;
      continue;
    }
    result = result * 10 - digit;
  }
  if (negative) {
    *value = result;
  } else {
    *value = result == LONG_MIN ? LONG_MAX : -result;
  }
  return p;
}

}  // namespace

void OutputFile::Print(const char* format, ...) {
  if (file_ == nullptr) return;
  std::va_list args;
  va_start(args, format);
  if (std::vfprintf(file_, format, args) < 0) ok_ = false;
  va_end(args);
}

bool OutputFile::Close() {
  if (file_ == nullptr) return false;
  if (std::ferror(file_) != 0) ok_ = false;
  if (std::fclose(file_) != 0) ok_ = false;
  file_ = nullptr;
  return ok_;
}

void WriteCommentLines(OutputFile& file, const char* text) {
  constexpr int kMaxComment = 1024;
  if (text[0] == '\0') return;
  file.Put('!');
  char last = '\0';
  for (int k = 0; k < kMaxComment && text[k] != '\0'; ++k) {
    if (k > 0 && IsLineEnd(last)) file.Put('!');
    last = text[k];
    file.Put(last);
  }
  if (!IsLineEnd(last)) file.Put('\n');
}

bool TextReader::Load(const char* fileName) {
  text_.clear();
  pos_ = 0;
  if (fileName == nullptr) return false;
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text_.append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

std::string TextReader::ReadHeaderComment() {
  constexpr std::size_t kMaxComment = 1023;
  std::string comment;
  const char* const end = text_.data() + text_.size();
  const char* p = text_.data() + pos_;
  while (p < end) {
    if (IsLineEnd(*p)) {
      ++p;
      continue;
    }
    if (*p != '!') break;
    ++p;
    const char* start = p;
    while (p < end && !IsLineEnd(*p)) ++p;
    if (p < end) p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
    if (comment.size() < kMaxComment) {
      comment.append(start, static_cast<std::size_t>(p - start));
      if (comment.size() > kMaxComment) comment.resize(kMaxComment);
    }
  }
  pos_ = static_cast<std::size_t>(p - text_.data());
  return comment;
}

void TextReader::SkipSpace() {
  while (pos_ < text_.size() && IsCSpace(text_[pos_])) ++pos_;
}

bool TextReader::ReadWord(std::string* word) {
  SkipSpace();
  const std::size_t start = pos_;
  while (pos_ < text_.size() && !IsCSpace(text_[pos_])) ++pos_;
  word->assign(text_, start, pos_ - start);
  return pos_ > start;
}

bool TextReader::ReadLong(long* value) {
  SkipSpace();
  const char* const begin = text_.data() + pos_;
  const char* stop = ScanInteger(begin, text_.data() + text_.size(), value);
  if (stop == nullptr) return false;
  pos_ += static_cast<std::size_t>(stop - begin);
  return true;
}

bool TextReader::ReadDouble(double* value) {
  SkipSpace();
  const char* const begin = text_.data() + pos_;
  const char* stop = ScanDouble(begin, text_.data() + text_.size(), value);
  if (stop == nullptr) return false;
  pos_ += static_cast<std::size_t>(stop - begin);
  return true;
}

bool ConvertLeadingInteger(const std::string& word, long* value) {
  return ScanInteger(word.data(), word.data() + word.size(), value) != nullptr;
}

}  // namespace cfit
