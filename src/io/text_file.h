// Plain text files of the model formats: an output file that is closed on
// every path, the comment lines at the head of a written file, and a reader
// that holds a whole file in memory and converts it with the rules of the C
// library's formatted input ("%s", "%ld", "%le"), so that a file reads the
// same as it would through fscanf.
#ifndef CFIT_IO_TEXT_FILE_H
#define CFIT_IO_TEXT_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace cfit {

// A file opened for writing ("w") that remembers whether the device took
// everything: a failed write sets the stream's error indicator, and a full
// device often reports only when the buffer is flushed at close. Writers
// check Close() and fail with their write error instead of reporting a
// file that is not there. The file is closed when the object goes. A null
// name opens nothing.
class OutputFile {
 public:
  explicit OutputFile(const char* name)
      : file_(name != nullptr ? std::fopen(name, "w") : nullptr) {}
  ~OutputFile() { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool is_open() const { return file_ != nullptr; }

  void Put(const char* text) {
    if (file_ != nullptr) std::fputs(text, file_);
  }
  void Put(char c) {
    if (file_ != nullptr) std::fputc(c, file_);
  }
  [[gnu::format(printf, 2, 3)]] void Print(const char* format, ...);

  // Closes the file. False when it was never open, a write failed or the
  // close (with its final flush) failed.
  bool Close();

 private:
  std::FILE* file_;
  bool ok_ = true;
};

// Writes `text` as comment lines: a '!' first and after every line feed or
// carriage return of the text, the text itself (at most 1024 characters), and
// a line feed when the text does not end with a line end. An empty text
// writes nothing.
void WriteCommentLines(OutputFile& file, const char* text);

// The text of a whole file and a read position in it.
class TextReader {
 public:
  static constexpr int kEnd = -1;

  // Reads the whole file. False when it cannot be opened or read.
  bool Load(const char* fileName);

  // Reads the leading comment: the lines that start with '!' (without the
  // '!', each with its line end as in the file), skipping empty lines. The
  // first character that is not '!', a line feed or a carriage return ends
  // it and stays unread. At most 1023 characters are kept; later comment
  // lines are skipped all the same.
  std::string ReadHeaderComment();

  // The next character (as unsigned char) or kEnd, without consuming it.
  int Peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : kEnd; }
  void Advance() {
    if (pos_ < text_.size()) ++pos_;
  }

  // "%s": skips white space and reads the run of characters up to the next
  // white space. False at the end of the text.
  bool ReadWord(std::string* word);
  // "%ld": skips white space, then an optional sign and decimal digits;
  // values beyond the range of long are clamped. False when no digit comes.
  bool ReadLong(long* value);
  // "%le": skips white space and converts the longest number that starts
  // there. False (nothing consumed) when none does.
  bool ReadDouble(double* value);

 private:
  void SkipSpace();

  std::string text_;
  std::size_t pos_ = 0;
};

// "%d" applied to a word: an optional sign and the decimal digits at its
// start (what follows them is ignored); values beyond the range of long are
// clamped. False when the word does not start with a number.
bool ConvertLeadingInteger(const std::string& word, long* value);

}  // namespace cfit

#endif  // CFIT_IO_TEXT_FILE_H
