// The library writes its run log to std::cout. The program sends it to a log
// file instead by swapping std::cout's stream buffer for one that writes to
// the file and, when asked, also to the original standard output.
#ifndef CFIT_TOOLS_CFIT_LOG_FILE_H
#define CFIT_TOOLS_CFIT_LOG_FILE_H

#include <fstream>
#include <streambuf>
#include <string>

namespace cfit_tool {

class LogFile {
 public:
  // Opens (truncates) `path` and redirects std::cout to it; an empty path
  // discards the log. `echo` also copies it to the original standard output.
  // Throws a Failure when the file cannot be opened.
  LogFile(const std::string& path, bool echo);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Writes a line of the program's own into the file only (not echoed), for
  // the command line at the top and the summary at the end.
  void Note(const std::string& text);

  // Puts std::cout back and closes the file. Called by the destructor too.
  void Close();

  const std::string& path() const { return path_; }

 private:
  // Copies everything written to it into up to two other buffers.
  class Tee : public std::streambuf {
   public:
    Tee(std::streambuf* first, std::streambuf* second) : first_(first), second_(second) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

   private:
    std::streambuf* first_;
    std::streambuf* second_;
  };

  std::string path_;
  std::ofstream file_;
  std::streambuf* original_ = nullptr;
  Tee tee_;
  bool open_ = false;
};

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_LOG_FILE_H
