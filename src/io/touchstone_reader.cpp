#include "io/touchstone_reader.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/fitter_state.h"
#include "io/number_scan.h"
#include "io/run_log.h"
#include "numeric/port_matrix.h"

namespace cfit {

namespace {

// ---------------------------------------------------------------------------
// The file in memory
//
// The file is read once. Every pass of the reader walks the same buffer, which
// ends with one NUL byte past the file's last byte so that scanning loops can
// stop on a character class without checking the position.

class FileText {
 public:
  // Reads the whole file. False when it cannot be opened or read.
  bool Load(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return false;
    bool ok = ReadAll(file);
    if (std::fclose(file) != 0) ok = false;
    if (!ok) Release();
    return ok;
  }

  const char* begin() const { return bytes_.get(); }
  const char* end() const { return bytes_.get() + size_; }
  void Release() {
    bytes_.reset();
    size_ = 0;
  }

 private:
  bool ReadAll(std::FILE* file) {
    // One read of the known size for regular files; growing chunks for
    // anything whose size cannot be taken beforehand.
    std::size_t capacity = 1 << 16;
    // Only a regular file's end position is its size: on a directory ftell
    // may report a huge value, and the read below must fail instead.
    struct stat info {};
    const bool regular = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
    if (regular && std::fseek(file, 0, SEEK_END) == 0) {
      const long size = std::ftell(file);
      if (size >= 0) capacity = static_cast<std::size_t>(size) + 1;
      if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    }
    bytes_ = std::make_unique_for_overwrite<char[]>(capacity + 1);
    size_ = 0;
    for (;;) {
      size_ += std::fread(bytes_.get() + size_, 1, capacity - size_, file);
      if (size_ < capacity) break;
      auto larger = std::make_unique_for_overwrite<char[]>(2 * capacity + 1);
      std::memcpy(larger.get(), bytes_.get(), size_);
      bytes_ = std::move(larger);
      capacity *= 2;
    }
    if (std::ferror(file)) return false;
    bytes_[size_] = '\0';
    return true;
  }

  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------
// Character classes

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Classes for scanning a data line byte by byte, ordered so that each test
// of the scanning loops is one comparison.
enum : unsigned char {
  kWordChar = 0,
  kOtherSpace = 1,  // vertical tab, form feed: separate numbers in the value pass only
  kBlank = 2,       // blank or tab: separates words in every pass
  kStop = 3,        // line end, NUL, or '!' (a trailing comment)
};

struct ClassTable {
  unsigned char cls[256];
  constexpr ClassTable() : cls() {
    for (int i = 0; i < 256; ++i) cls[i] = kWordChar;
    cls[static_cast<unsigned char>(' ')] = kBlank;
    cls[static_cast<unsigned char>('\t')] = kBlank;
    cls[static_cast<unsigned char>('\v')] = kOtherSpace;
    cls[static_cast<unsigned char>('\f')] = kOtherSpace;
    cls[static_cast<unsigned char>('\n')] = kStop;
    cls[static_cast<unsigned char>('\r')] = kStop;
    cls[0] = kStop;
    cls[static_cast<unsigned char>('!')] = kStop;
  }
};
constexpr ClassTable kClasses;

inline unsigned char ClassOf(char c) { return kClasses.cls[static_cast<unsigned char>(c)]; }

// Position after the line that contains p: past its LF or CR, or the end of
// the text. A CR LF pair ends the line at the CR; the LF then forms an empty
// line of its own.
const char* SkipToNextLine(const char* p, const char* end) {
  while (p < end && !IsLineEnd(*p)) ++p;
  return p < end ? p + 1 : end;
}

// ---------------------------------------------------------------------------
// Header comment

// The text of the leading lines that start with '!', without the '!', each
// with its line end (LF, CR, or CR LF as in the file); empty lines are
// skipped; any other first character ends the comment. At most 1023
// characters are kept.
std::string ReadHeaderComment(const char* p, const char* end) {
  constexpr std::size_t kMaxComment = 1023;
  std::string comment;
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
    comment.append(start, static_cast<std::size_t>(p - start));
    if (comment.size() >= kMaxComment) {
      comment.resize(kMaxComment);
      break;
    }
  }
  return comment;
}

// ---------------------------------------------------------------------------
// Port-count detection

// Lines longer than this end the scan as if the file ended there.
constexpr std::size_t kMaxDetectionLine = 100000;

// Number of numbers on a line, or 0 when any white-space separated piece of
// it is not a number. The line is cut at its first '!', '%', '#' or NUL.
long long CountNumbers(const char* p, const char* end) {
  const char* cut = p;
  while (cut < end && *cut != '!' && *cut != '%' && *cut != '#' && *cut != '\0') ++cut;
  long long count = 0;
  while (p < cut) {
    while (p < cut && IsCSpace(*p)) ++p;
    if (p == cut) break;
    const char* word = p;
    while (p < cut && !IsCSpace(*p)) ++p;
    double value;
    if (!ConvertsAsNumber(word, p, &value)) return 0;
    ++count;
  }
  return count;
}

// The port count from the number layout: the first line with an odd count of
// numbers starts a point, following lines with even counts continue it, the
// next odd line ends the scan. N stands when the point holds 2 N^2 + 1
// numbers; otherwise 0, with the log line.
int DetectPortCount(const char* p, const char* end, const std::string& name,
                    const RunContext& context) {
  long long total = 0;
  bool started = false;
  while (p < end) {
    const char* lineEnd = p;
    while (lineEnd < end && !IsLineEnd(*lineEnd)) ++lineEnd;
    if (static_cast<std::size_t>(lineEnd - p) > kMaxDetectionLine) break;
    const long long count = CountNumbers(p, lineEnd);
    p = lineEnd < end ? lineEnd + 1 : end;
    if (count == 0) continue;
    if (count % 2 == 1) {
      if (started) break;
      started = true;
      total = count;
    } else if (started) {
      total += count;
    }
  }
  int n = 0;
  if (total > 0) {
    const long long half = (total - 1) / 2;
    const long long root = static_cast<long long>(std::sqrt(static_cast<double>(half)));
    if (root > 0 && root < 46341 && 2 * root * root + 1 == total) n = static_cast<int>(root);
  }
  if (n == 0) context.Write("*** Unable to detect the number of ports from ", name, " ***\n");
  return n;
}

// ---------------------------------------------------------------------------
// Data line reader

// The data reader hands out the lines that carry data: it skips comment
// lines ('!' or '%' first), option lines ('#' first) unless they are asked
// for, and lines shorter than 3 characters counting their line end. A data
// line's text starts at its first non-blank character and ends at the first
// character of class kStop: its line end, a NUL byte (which ends the text of
// the line) or a '!' that starts a trailing comment. The caller walks the
// text and hands back where it stopped.
class DataReader {
 public:
  DataReader(const char* begin, const char* end) : pos_(begin), end_(end) {}

  // Start of the next line, or null at the end of the text.
  const char* Begin(bool optionLines) {
    while (pos_ < end_) {
      const char* p = pos_;
      while (*p == ' ' || *p == '\t') ++p;
      const char first = *p;  // the NUL after the text at the end
      if (first == '!' || first == '%' || (first == '#' && !optionLines)) {
        pos_ = SkipToNextLine(p, end_);
        continue;
      }
      if (first == '#') {
        if (KeptLength(p, OptionLineEnd(p)) >= 3) return p;
        pos_ = SkipToNextLine(p, end_);
        continue;
      }
      // Only the first three characters decide whether the line is long
      // enough.
      const char* q = p;
      while (q < p + 3 && ClassOf(*q) != kStop) ++q;
      if (q == p + 3 || KeptLength(p, q) >= 3) return p;
      pos_ = SkipToNextLine(q, end_);
    }
    return nullptr;
  }

  // The end of an option line's text: its line end or a NUL byte.
  const char* OptionLineEnd(const char* p) const {
    while (p < end_ && *p != '\0' && !IsLineEnd(*p)) ++p;
    return p;
  }

  // Moves to the line after the one whose text stopped at `stop`.
  void Finish(const char* stop) {
    pos_ = (stop < end_ && IsLineEnd(*stop)) ? stop + 1 : SkipToNextLine(stop, end_);
  }

  const char* end() const { return end_; }

 private:
  // Characters of the text [p, stop) plus its line end; a NUL byte ends the
  // text without one. A last line without a line end counts as having one.
  std::size_t KeptLength(const char* p, const char* stop) const {
    const bool cutByNul = stop < end_ && *stop == '\0';
    return static_cast<std::size_t>(stop - p) + (cutByNul ? 0 : 1);
  }

  const char* pos_;
  const char* end_;
};

// Counts the words of the data line starting at p as the point count sees
// them (runs of characters other than blanks and tabs) and returns where its
// text stops.
const char* CountWords(const char* p, long long* words) {
  long long count = 0;
  for (;;) {
    while (ClassOf(*p) == kBlank) ++p;
    if (ClassOf(*p) == kStop) break;
    ++count;
    while (ClassOf(*p) <= kOtherSpace) ++p;
  }
  *words = count;
  return p;
}

// ---------------------------------------------------------------------------
// Option line

struct OptionRecord {
  double frequencyScale = 1.0;  // GHz, MHz, kHz; 1 for Hz or no unit
  int parameterType = 0;        // 1 S, 2 Y, 3 Z, 4 P, 5 another letter
  bool ma = false;              // MA, and also DB
  bool db = false;
  bool ri = false;
  std::vector<double> impedances;
};

// True when `word` is a non-empty prefix of `full`.
bool IsPrefixOf(const std::string& word, const char* full) {
  return !word.empty() && word.size() <= std::strlen(full) &&
         std::strncmp(word.c_str(), full, word.size()) == 0;
}

// Splits [p, end) at blanks and tabs into upper-cased words.
std::vector<std::string> OptionWords(const char* p, const char* end) {
  std::vector<std::string> words;
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p == end) break;
    const char* start = p;
    while (p < end && *p != ' ' && *p != '\t') ++p;
    std::string word(start, p);
    for (char& c : word) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    words.push_back(std::move(word));
  }
  return words;
}

bool WordIsNumber(const std::string& word, double* value) {
  return ConvertsAsNumber(word.data(), word.data() + word.size(), value);
}

// Parses "# <unit> <type> <format> <impedances>", filling `options` as far
// as it gets. Missing trailing words take the defaults Hz, S, RI and 50 ohms.
// At most `room` impedances are kept; further pairs are ignored.
bool ParseOptionLine(const char* begin, const char* end, std::size_t room, OptionRecord* options) {
  // The '#' (the line's first non-blank character) counts as a blank.
  const std::vector<std::string> words = OptionWords(begin + 1, end);
  std::size_t w = 0;
  auto defaults = [&](int from) {
    if (from <= 1) options->frequencyScale = 1.0;
    if (from <= 2) options->parameterType = 1;
    if (from <= 3) options->ri = true;
    options->impedances.assign(1, 50.0);
    return true;
  };

  if (w == words.size()) return defaults(1);
  const std::string& unit = words[w++];
  if (IsPrefixOf(unit, "GHZ")) {
    options->frequencyScale = 1e9;
  } else if (IsPrefixOf(unit, "MHZ")) {
    options->frequencyScale = 1e6;
  } else if (IsPrefixOf(unit, "KHZ")) {
    options->frequencyScale = 1e3;
  } else if (IsPrefixOf(unit, "HZ")) {
    options->frequencyScale = 1.0;
  } else {
    return false;
  }

  if (w == words.size()) return defaults(2);
  const std::string& type = words[w++];
  if (type.size() != 1) return false;
  switch (type[0]) {
    case 'S': options->parameterType = 1; break;
    case 'Y': options->parameterType = 2; break;
    case 'Z': options->parameterType = 3; break;
    case 'P': options->parameterType = 4; break;
    default: options->parameterType = 5; return false;
  }

  if (w == words.size()) return defaults(3);
  const std::string& format = words[w++];
  if (IsPrefixOf(format, "MA")) {
    options->ma = true;
  } else if (IsPrefixOf(format, "DB")) {
    options->ma = true;
    options->db = true;
  } else if (IsPrefixOf(format, "RI")) {
    options->ri = true;
  } else {
    return false;
  }

  if (w == words.size()) return defaults(4);
  options->impedances.clear();
  if (words[w] == "R") {
    double value;
    if (w + 1 == words.size() || !WordIsNumber(words[w + 1], &value)) return false;
    options->impedances.push_back(value);
    return true;
  }
  for (int k = 1; w < words.size() && options->impedances.size() < room; ++k) {
    if (words[w] != "R" + std::to_string(k)) return false;
    double value;
    if (w + 1 == words.size() || !WordIsNumber(words[w + 1], &value)) return false;
    options->impedances.push_back(value);
    w += 2;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The two passes over the data

void LogBadUnits(const RunContext& context) {
  context.Write(" Bad line encountered ! : ", " Line with bad definition of units \n",
                "  Line ignored \n\n");
}

void LogBadLine(const RunContext& context) {
  context.Write("\n Bad line encountered ! Line ignored \n\n");
}

// Element position within a point, 0-based, with the wrapping of the two
// line orders.
struct Position {
  int row = 0;
  int col = 0;
};

struct FirstPassResult {
  OptionRecord options;
  long long completePoints = 0;
  bool twoPortOrder = false;
  const char* dataStart = nullptr;  // position after the option line
  // The values read while counting, in row order, as long as every line
  // was regular (see ParseDataLine); then they are the points the value
  // pass would read and that pass is not needed.
  bool valuesRead = true;
  PointBlock points;
};

// Steps over white space within a data line's text. In quiet mode a
// vertical tab or form feed (white space for the values, but part of a word
// for the point count) makes the line irregular: *irregular is set.
template <bool kQuiet>
inline const char* SkipSpace(const char* p, bool* irregular) {
  if constexpr (kQuiet) {
    while (ClassOf(*p) == kBlank) ++p;
    if (ClassOf(*p) == kOtherSpace) *irregular = true;
  } else {
    while (static_cast<unsigned char>(ClassOf(*p) - kOtherSpace) <= kBlank - kOtherSpace) ++p;
  }
  return p;
}

// Converts the word at p (prefix conversion, as %lf) and steps past the
// whole word. Null when it does not convert. The number grammar never takes
// a white-space, line-end, NUL or '!' character, so the conversion may look
// as far as the end of the text.
inline const char* ConvertWord(const char* p, const char* textEnd, double* value) {
  p = ScanDouble(p, textEnd, value);
  if (p == nullptr) return nullptr;
  while (ClassOf(*p) == kWordChar) ++p;
  return p;
}

// Parses the data line starting at `line` into `point`. Returns the count of
// numbers the line supplies: the frequency (at position (0, 0)) plus 2 per
// pair, or 0 for a line with a word that is not a number (logged) or a pair
// cut by the line end. Values stored before such a stop stay. *stop is set
// to where the line's text stops, for the reader.
//
// Quiet mode is the value reading done during the point count: it logs
// nothing and returns -1 (leaving *stop unset) at anything that would make
// the line supply a count other than its word count: a word that is not a
// number, a cut pair, a vertical tab or form feed.
template <bool kQuiet>
long long ParseDataLine(const char* line, const char* textEnd, int n, bool twoPortOrder,
                        MatrixView point, Position* at, const char** stop,
                        const RunContext* context) {
  bool irregular = false;
  const char* p = SkipSpace<kQuiet>(line, &irregular);
  long long supplied = 0;
  auto bad = [&]() {
    if constexpr (kQuiet) return -1LL;
    LogBadLine(*context);
    while (ClassOf(*p) != kStop) ++p;
    *stop = p;
    return 0LL;
  };
  if (at->row == 0 && at->col == 0) {
    double frequency;
    const char* next = ClassOf(*p) == kStop ? nullptr : ConvertWord(p, textEnd, &frequency);
    if (next == nullptr) return bad();
    point.set_frequency(frequency);
    supplied = 1;
    p = SkipSpace<kQuiet>(next, &irregular);
  }
  while (ClassOf(*p) != kStop) {
    if (twoPortOrder) {
      if (at->row >= n) {
        at->row = 0;
        ++at->col;
      }
      if (at->col >= n) at->col = 0;
    } else {
      if (at->col >= n) {
        at->col = 0;
        ++at->row;
      }
      if (at->row >= n) at->row = 0;
    }
    double first, second;
    const char* next = ConvertWord(p, textEnd, &first);
    if (next == nullptr) return bad();
    p = SkipSpace<kQuiet>(next, &irregular);
    if (ClassOf(*p) == kStop) {
      if constexpr (kQuiet) return -1;
      *stop = p;
      return 0;  // the pair is cut by the line end
    }
    next = ConvertWord(p, textEnd, &second);
    if (next == nullptr) return bad();
    p = SkipSpace<kQuiet>(next, &irregular);
    point.At(at->row, at->col) = Complex(first, second);
    if (twoPortOrder) {
      ++at->row;
    } else {
      ++at->col;
    }
    supplied += 2;
  }
  if (kQuiet && irregular) return -1;
  *stop = p;
  return supplied;
}

// Finds and parses the option line and counts the complete points. Every
// point must end exactly at a line end.
bool FirstPass(const char* begin, const char* end, int n, const std::string& name,
               const RunContext& context, FirstPassResult* result) {
  context.WriteFlushed("\n\n ====== Reading data from touchstone file: ", name, " ======\n\n");
  DataReader reader(begin, end);
  const char* line = reader.Begin(true);
  if (line == nullptr) {
    context.Write("\n Empty file, cannot continue simulation \n");
    return false;
  }
  if (*line != '#') {
    // Without an option line the units are unknown; reading on with guessed
    // defaults could silently give wrong frequencies, so the read ends here.
    context.Write("\n No option line found ! : default units used \n");
    return false;
  }
  const char* optionEnd = reader.OptionLineEnd(line);
  if (!ParseOptionLine(line, optionEnd, static_cast<std::size_t>(n) + 11, &result->options)) {
    LogBadUnits(context);
    return false;
  }
  reader.Finish(optionEnd);
  result->dataStart = optionEnd;

  const long long wordsPerPoint = 2LL * n * n + 1;
  bool everyPointOnOneLine = true;
  PointBlock& points = result->points;
  points = PointBlock(n);
  while ((line = reader.Begin(false)) != nullptr) {
    const char* pointStart = line;
    const char* pointEnd = line;
    long long words = 0;
    int lines = 0;
    Position at;
    if (result->valuesRead) points.AppendZero();
    do {
      long long lineWords = -1;
      const char* stop = nullptr;
      if (result->valuesRead) {
        lineWords = ParseDataLine<true>(line, end, n, false, points.back(), &at, &stop, nullptr);
        if (lineWords < 0) {
          result->valuesRead = false;
          points.Release();
        }
      }
      if (lineWords < 0) stop = CountWords(line, &lineWords);
      reader.Finish(stop);
      pointEnd = stop;
      words += lineWords;
      ++lines;
    } while (words < wordsPerPoint && (line = reader.Begin(false)) != nullptr);
    if (words == wordsPerPoint) {
      ++result->completePoints;
      if (result->completePoints == 1 && result->valuesRead && pointEnd > pointStart) {
        // Room for the points the rest of the text holds if they are as long
        // as the first, so that the block grows once instead of doubling
        // (which would hold old and new storage at once).
        const auto estimate = static_cast<std::size_t>(end - pointStart) /
                              static_cast<std::size_t>(pointEnd - pointStart);
        points.Reserve(estimate + estimate / 16 + 2);
      }
      if (lines != 1) everyPointOnOneLine = false;
    } else if (words != 0) {
      context.Write("*** Error: incorrect format of touchstone file ***\n",
                    "*** Or incorrect # of ports set in fitter ***\n");
      return false;
    }
  }
  result->twoPortOrder = n == 2 && everyPointOnOneLine;
  if (result->valuesRead && result->twoPortOrder) {
    // Two-port order puts pair k of a line at (k mod 2, k div 2), row order
    // at (k div 2, k mod 2).
    for (MatrixView point : points.points()) std::swap(point.At(0, 1), point.At(1, 0));
  }
  return true;
}

// Reads the values of the points. At most `completePoints` + 1 points are
// read; the last one may be incomplete when bad lines were skipped.
PointBlock SecondPass(const char* dataStart, const char* end, int n, const FirstPassResult& first,
                      const RunContext& context) {
  PointBlock points(n);
  const long long maxPoints = first.completePoints + 1;
  points.Reserve(static_cast<std::size_t>(first.completePoints));
  const long long numbersPerPoint = 2LL * n * n + 1;
  DataReader reader(dataStart, end);
  reader.Finish(dataStart);
  const char* line;
  while (static_cast<long long>(points.size()) < maxPoints &&
         (line = reader.Begin(false)) != nullptr) {
    const MatrixView point = points.AppendZero();
    Position at;
    long long supplied = 0;
    do {
      const char* stop;
      supplied +=
          ParseDataLine<false>(line, end, n, first.twoPortOrder, point, &at, &stop, &context);
      reader.Finish(stop);
    } while (supplied < numbersPerPoint && (line = reader.Begin(false)) != nullptr);
  }
  return points;
}

// Frequencies to hertz; MA and DB pairs (angles in degrees) to real and
// imaginary parts.
void ConvertPoints(const OptionRecord& options, PointBlock* points) {
  constexpr double kDegree = 3.14159265358979 / 180.0;
  for (MatrixView point : points->points()) {
    point.set_frequency(point.frequency() * options.frequencyScale);
    if (!options.ma) continue;
    const int n = point.order();
    for (int i = 0; i < n; ++i) {
      Complex* row = point.Row(i);
      for (int j = 0; j < n; ++j) {
        const double angle = row[j].im * kDegree;
        double magnitude = row[j].re;
        if (options.db) magnitude = magnitude == -400.0 ? 0.0 : std::pow(10.0, magnitude / 20.0);
        row[j] = Complex(magnitude * std::cos(angle), magnitude * std::sin(angle));
      }
    }
  }
}

// Port p takes the p-th impedance given; ports beyond those given take the
// first.
std::vector<double> PortImpedances(const OptionRecord& options, int n) {
  std::vector<double> values(static_cast<std::size_t>(n), 50.0);
  if (options.impedances.empty()) return values;
  for (int p = 0; p < n; ++p) {
    const std::size_t k = static_cast<std::size_t>(p);
    values[k] = k < options.impedances.size() ? options.impedances[k] : options.impedances[0];
  }
  return values;
}

int DataTypeOf(int parameterType) {
  switch (parameterType) {
    case 1: return kS;
    case 2: return kY;
    case 3: return kZ;
    case 4: return kPulse;
    default: return kNoData;
  }
}

constexpr const char* kReadingOperation = " Reading from touchstone file ";

// ---------------------------------------------------------------------------
// Version 2.0 files
//
// A version 2.0 file names its layout with bracketed keywords instead of
// leaving it to the number layout: [Version], the option line,
// [Number of Ports], [Two-Port Data Order] (12_21 or 21_12),
// [Number of Frequencies], [Reference] (one impedance per port, possibly
// over several lines), [Matrix Format] (Full, Lower or Upper),
// [Network Data] and [End]. Keywords are case-insensitive; other keywords
// ([Noise Data], [Begin Information], ...) and the lines under them are
// ignored. The network data are a stream of numbers: per point the
// frequency and the pairs of the full matrix row by row, or of its lower or
// upper triangle, however the lines are broken.

bool StartsWithByteOrderMark(const char* p, const char* end) {
  return end - p >= 3 && static_cast<unsigned char>(p[0]) == 0xEF &&
         static_cast<unsigned char>(p[1]) == 0xBB && static_cast<unsigned char>(p[2]) == 0xBF;
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// One line of a version 2 file without its comment and outer blanks.
struct V2Line {
  const char* begin;
  const char* end;
  bool empty() const { return begin == end; }
};

class V2Lines {
 public:
  V2Lines(const char* begin, const char* end) : pos_(begin), end_(end) {}
  bool Next(V2Line* line) {
    if (pos_ >= end_) return false;
    const char* p = pos_;
    const char* stop = p;
    while (stop < end_ && !IsLineEnd(*stop)) ++stop;
    pos_ = stop < end_ ? stop + 1 : end_;
    const char* cut = p;
    while (cut < stop && *cut != '!') ++cut;
    while (p < cut && IsCSpace(*p)) ++p;
    while (cut > p && IsCSpace(cut[-1])) --cut;
    *line = {p, cut};
    return true;
  }

 private:
  const char* pos_;
  const char* end_;
};

// The keyword of a line that starts with '[' (upper-cased, blanks kept
// single) and the text after its ']'. False when the line is no keyword.
bool SplitKeyword(const V2Line& line, std::string* keyword, V2Line* rest) {
  if (line.empty() || *line.begin != '[') return false;
  const char* close = line.begin;
  while (close < line.end && *close != ']') ++close;
  if (close == line.end) return false;
  keyword->clear();
  for (const char* p = line.begin + 1; p < close; ++p) {
    const bool blank = *p == ' ' || *p == '\t';
    if (blank && (keyword->empty() || keyword->back() == ' ')) continue;
    keyword->push_back(blank ? ' ' : *p);
  }
  while (!keyword->empty() && keyword->back() == ' ') keyword->pop_back();
  *keyword = UpperCase(*keyword);
  const char* r = close + 1;
  while (r < line.end && IsCSpace(*r)) ++r;
  *rest = {r, line.end};
  return true;
}

// Appends the numbers of a line; false when a word is not a whole number.
bool AppendNumbers(const V2Line& line, std::vector<double>* numbers) {
  const char* p = line.begin;
  while (p < line.end) {
    while (p < line.end && IsCSpace(*p)) ++p;
    if (p == line.end) break;
    const char* word = p;
    while (p < line.end && !IsCSpace(*p)) ++p;
    double value;
    if (ScanDouble(word, p, &value) != p) return false;
    numbers->push_back(value);
  }
  return true;
}

// True when the first line that is neither empty nor a comment is the
// [Version] keyword.
bool IsVersion2(const char* begin, const char* end) {
  V2Lines lines(begin, end);
  V2Line line;
  while (lines.Next(&line)) {
    if (line.empty()) continue;
    std::string keyword;
    V2Line rest;
    return SplitKeyword(line, &keyword, &rest) && keyword == "VERSION";
  }
  return false;
}

bool ReadCount(const V2Line& rest, long long low, long long high, long long* count) {
  std::vector<double> numbers;
  if (!AppendNumbers(rest, &numbers) || numbers.size() != 1) return false;
  const double v = numbers[0];
  if (!(v >= static_cast<double>(low) && v <= static_cast<double>(high)) || v != std::floor(v)) {
    return false;
  }
  *count = static_cast<long long>(v);
  return true;
}

enum class MatrixFormat { kFull, kLower, kUpper };

struct Version2Layout {
  OptionRecord options;
  bool optionLine = false;
  int n = 0;
  long long frequencies = -1;
  bool twoPortColumnOrder = true;  // 21_12, the version 1 order
  MatrixFormat format = MatrixFormat::kFull;
  std::vector<double> reference;
  std::vector<double> data;
};

// Reads the keywords and the network data. False at the first fault.
bool ParseVersion2(const char* begin, const char* end, Version2Layout* layout) {
  V2Lines lines(begin, end);
  V2Line line;
  enum { kKeywords, kNetworkData, kIgnored } section = kKeywords;
  while (lines.Next(&line)) {
    if (line.empty()) continue;
    std::string keyword;
    V2Line rest;
    if (SplitKeyword(line, &keyword, &rest)) {
      section = kKeywords;
      if (keyword == "VERSION") {
        if (rest.empty() || *rest.begin != '2') return false;
      } else if (keyword == "NUMBER OF PORTS") {
        long long n;
        if (!ReadCount(rest, 1, 46340, &n)) return false;
        layout->n = static_cast<int>(n);
      } else if (keyword == "TWO-PORT DATA ORDER") {
        const std::string order(rest.begin, rest.end);
        if (order != "12_21" && order != "21_12") return false;
        layout->twoPortColumnOrder = order == "21_12";
      } else if (keyword == "NUMBER OF FREQUENCIES") {
        if (!ReadCount(rest, 1, 1LL << 30, &layout->frequencies)) return false;
      } else if (keyword == "REFERENCE") {
        if (layout->n == 0) return false;
        const std::size_t wanted = static_cast<std::size_t>(layout->n);
        if (!AppendNumbers(rest, &layout->reference)) return false;
        while (layout->reference.size() < wanted && lines.Next(&line)) {
          if (!AppendNumbers(line, &layout->reference)) return false;
        }
        if (layout->reference.size() != wanted) return false;
      } else if (keyword == "MATRIX FORMAT") {
        const std::string format = UpperCase(std::string(rest.begin, rest.end));
        if (format == "FULL") {
          layout->format = MatrixFormat::kFull;
        } else if (format == "LOWER") {
          layout->format = MatrixFormat::kLower;
        } else if (format == "UPPER") {
          layout->format = MatrixFormat::kUpper;
        } else {
          return false;
        }
      } else if (keyword == "MIXED-MODE ORDER") {
        return false;  // mixed-mode data would be taken for standard ports
      } else if (keyword == "NETWORK DATA") {
        if (!layout->optionLine || layout->n == 0 || layout->frequencies < 0) return false;
        section = kNetworkData;
      } else if (keyword == "END") {
        return true;
      } else {
        section = kIgnored;
      }
      continue;
    }
    if (section == kNetworkData) {
      if (!AppendNumbers(line, &layout->data)) return false;
    } else if (section == kKeywords && *line.begin == '#') {
      if (layout->optionLine) continue;  // later option lines are ignored
      layout->optionLine = true;
      if (!ParseOptionLine(line.begin, line.end, 1, &layout->options)) return false;
    } else if (section == kKeywords) {
      return false;  // numbers outside the network data
    }
  }
  return true;
}

// The points of the network data.
bool Version2Points(const Version2Layout& layout, PointBlock* points) {
  const int n = layout.n;
  const long long pairs =
      layout.format == MatrixFormat::kFull ? 1LL * n * n : 1LL * n * (n + 1) / 2;
  const long long perPoint = 1 + 2 * pairs;
  const long long expected = perPoint * layout.frequencies;
  if (static_cast<long long>(layout.data.size()) != expected) return false;
  const double* v = layout.data.data();
  *points = PointBlock(n);
  points->Reserve(static_cast<std::size_t>(layout.frequencies));
  for (long long k = 0; k < layout.frequencies; ++k) {
    const MatrixView point = points->AppendZero();
    point.set_frequency(*v++);
    for (int i = 0; i < n; ++i) {
      const int from = layout.format == MatrixFormat::kUpper ? i : 0;
      const int to = layout.format == MatrixFormat::kLower ? i : n - 1;
      for (int j = from; j <= to; ++j) {
        const Complex z(v[0], v[1]);
        v += 2;
        const bool swap =
            n == 2 && layout.format == MatrixFormat::kFull && layout.twoPortColumnOrder && i != j;
        const int r = swap ? j : i;
        const int c = swap ? i : j;
        point.At(r, c) = z;
        if (layout.format != MatrixFormat::kFull) point.At(c, r) = z;
      }
    }
  }
  return true;
}

// Port p takes the p-th impedance of the list, or the option line's one.
std::vector<double> Version2Impedances(const Version2Layout& layout) {
  if (!layout.reference.empty()) return layout.reference;
  return std::vector<double>(
      static_cast<std::size_t>(layout.n),
      layout.options.impedances.empty() ? 50.0 : layout.options.impedances[0]);
}

}  // namespace

Result<TouchstoneFile> ReadTouchstoneFile(const std::string& name, const TouchstoneOptions& options,
                                          const RunContext& context, TouchstoneReach* reach) {
  TouchstoneReach local;
  TouchstoneReach& at = reach != nullptr ? *reach : local;
  at = TouchstoneReach{};
  FileText text;
  if (!text.Load(name.c_str())) return Failure::OfFile(ErrorCode::kCannotOpenTouchstone, name);
  at.opened = true;
  const char* begin = text.begin();
  const bool version2Allowed = options.dialect == TouchstoneDialect::kVersion2Allowed;
  if (version2Allowed && StartsWithByteOrderMark(begin, text.end())) begin += 3;

  TouchstoneFile file;
  file.comment = ReadHeaderComment(begin, text.end());
  const Failure syntax = Failure::OfFile(ErrorCode::kTouchstoneSyntax, name);

  if (version2Allowed && IsVersion2(begin, text.end())) {
    file.version = 2;
    at.started = true;
    context.StartLine(kReadingOperation, name);
    context.WriteFlushed("\n\n ====== Reading data from touchstone file: ", name, " ======\n\n");
    Version2Layout layout;
    const bool parsed = ParseVersion2(begin, text.end(), &layout);
    at.portCount = layout.n;
    at.dataType = DataTypeOf(layout.options.parameterType);
    if (!parsed || !Version2Points(layout, &file.points)) {
      context.Write("\n*** Problem in reading touchstone data ***\n");
      if (at.dataType == kNoData) return Failure::OfFile(ErrorCode::kUnsupportedParameters, name);
      return syntax;
    }
    ConvertPoints(layout.options, &file.points);
    file.portCount = layout.n;
    file.dataType = at.dataType;
    file.impedances = Version2Impedances(layout);
    if (file.dataType == kNoData) return Failure::OfFile(ErrorCode::kUnsupportedParameters, name);
    return file;
  }

  const int n = DetectPortCount(begin, text.end(), name, context);
  at.portCount = n;
  if (n == 0) return syntax;
  at.started = true;
  context.StartLine(kReadingOperation, name);

  FirstPassResult first;
  if (!FirstPass(begin, text.end(), n, name, context, &first)) {
    context.Write("\n*** Problem in reading touchstone data ***\n");
    at.dataType = DataTypeOf(first.options.parameterType);
    if (at.dataType == kNoData) return Failure::OfFile(ErrorCode::kUnsupportedParameters, name);
    return syntax;
  }
  file.points = first.valuesRead ? std::move(first.points)
                                 : SecondPass(first.dataStart, text.end(), n, first, context);
  ConvertPoints(first.options, &file.points);
  at.dataType = DataTypeOf(first.options.parameterType);
  file.portCount = n;
  file.dataType = at.dataType;
  file.impedances = PortImpedances(first.options, n);
  if (file.dataType == kNoData) return Failure::OfFile(ErrorCode::kUnsupportedParameters, name);
  return file;
}

void LogTouchstoneReadEnd(const std::string& name, const RunContext& context) {
  context.EndLine(kReadingOperation, name);
}

Result<int> TouchstonePortCount(const std::string& name, const TouchstoneOptions& options,
                                const RunContext& context) {
  FileText text;
  if (!text.Load(name.c_str())) {
    context.Write("*** Cannot open the file ", name, " ***\n");
    return Failure::OfFile(ErrorCode::kTouchstoneSyntax, name);
  }
  const char* begin = text.begin();
  const bool version2Allowed = options.dialect == TouchstoneDialect::kVersion2Allowed;
  if (version2Allowed && StartsWithByteOrderMark(begin, text.end())) begin += 3;
  int n = 0;
  if (version2Allowed && IsVersion2(begin, text.end())) {
    Version2Layout layout;
    ParseVersion2(begin, text.end(), &layout);
    n = layout.n;
    if (n == 0) context.Write("*** Unable to detect the number of ports from ", name, " ***\n");
  } else {
    n = DetectPortCount(begin, text.end(), name, context);
  }
  if (n == 0) return Failure::OfFile(ErrorCode::kTouchstoneSyntax, name);
  return n;
}

}  // namespace cfit
