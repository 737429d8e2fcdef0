// End-to-end tests of the cfit program: they run the built binary on real
// files and read what it wrote back through the library's public header.
#include <cfit/cfit.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Value = std::complex<double>;

using Fitter = std::unique_ptr<cFitAPI>;

fs::path Data(const std::string& name) {
  const char* folder = std::getenv("CFIT_TEST_DATA");
  return fs::path(folder != nullptr ? folder : "") / name;
}

std::string Example() { return (fs::path(CFIT_EXAMPLES_DIR) / "ring_slot_sim.s2p").string(); }

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// Sampled points of a Touchstone file as the library reads them, without
// symmetrising, values[k][i * ports + j].
struct Table {
  int ports = 0;
  std::vector<double> frequencies;
  std::vector<std::vector<Value>> values;
};

Table ReadTable(const std::string& path) {
  cFitParams params;
  params.symmetryTolerance = 0.0;
  Fitter fitter(cFitAPI::Create(&params));
  Table t;
  t.ports = fitter->ReadTouchstone(path.c_str());
  for (DataPointRecord* r = fitter->GetFirstDataPoint(); r != nullptr;
       r = fitter->GetNextDataPoint()) {
    t.frequencies.push_back(r->frequency);
    std::vector<Value> matrix;
    for (int i = 0; i < t.ports; ++i) {
      for (int j = 0; j < t.ports; ++j)
        matrix.emplace_back(r->values[i][2 * j], r->values[i][2 * j + 1]);
    }
    t.values.push_back(matrix);
  }
  return t;
}

Fitter ReadPoles(const std::string& path) {
  Fitter fitter(cFitAPI::Create(nullptr));
  EXPECT_GT(fitter->ReadPoles(path.c_str()), 0) << path;
  return fitter;
}

Value Evaluate(cFitAPI& fitter, int i, int j, double f) {
  double v[2] = {0.0, 0.0};
  EXPECT_EQ(fitter.EvaluateModelElement(i, j, f, v), 1);
  return {v[0], v[1]};
}

// Largest |t - model| over the points and elements of a 2-port table.
double ModelDeviation(const Table& t, cFitAPI& model, std::size_t step = 1) {
  double largest = 0.0;
  for (std::size_t k = 0; k < t.frequencies.size(); k += step) {
    for (int e = 0; e < 4; ++e) {
      largest = std::max(
          largest, std::abs(t.values[k][e] - Evaluate(model, e / 2, e % 2, t.frequencies[k])));
    }
  }
  return largest;
}

// Largest |a - b| over all points and elements of two tables on one grid.
double LargestDifference(const Table& a, const Table& b) {
  double largest = 0.0;
  for (std::size_t k = 0; k < a.values.size(); ++k) {
    for (std::size_t e = 0; e < a.values[k].size(); ++e) {
      largest = std::max(largest, std::abs(a.values[k][e] - b.values[k][e]));
    }
  }
  return largest;
}

// Square of the largest singular value of a 2 x 2 matrix (row-major), in
// closed form from its Frobenius norm and determinant.
double SquaredSigmaMax(const Value* h) {
  const double frobenius = std::norm(h[0]) + std::norm(h[1]) + std::norm(h[2]) + std::norm(h[3]);
  const double det = std::abs(h[0] * h[3] - h[1] * h[2]);
  return 0.5 * (frobenius + std::sqrt(std::max(0.0, frobenius * frobenius - 4.0 * det * det)));
}

double ModelSquaredSigmaMax(cFitAPI& model, double f) {
  const Value h[4] = {Evaluate(model, 0, 0, f), Evaluate(model, 0, 1, f), Evaluate(model, 1, 0, f),
                      Evaluate(model, 1, 1, f)};
  return SquaredSigmaMax(h);
}

// "10.625 GHz" in hertz.
double Hertz(const std::string& text) {
  std::istringstream in(text);
  double value = 0.0;
  std::string unit;
  in >> value >> unit;
  const std::vector<std::pair<std::string, double>> units = {
      {"Hz", 1.0}, {"kHz", 1e3}, {"MHz", 1e6}, {"GHz", 1e9}, {"THz", 1e12}};
  for (const auto& [name, scale] : units) {
    if (unit == name) return value * scale;
  }
  ADD_FAILURE() << "not a frequency: " << text;
  return -1.0;
}

// Captures of the first match of `pattern` in `text` (empty when none).
std::vector<std::string> Find(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no match for " << pattern << " in\n" << text;
    return std::vector<std::string>(10);
  }
  return std::vector<std::string>(m.begin(), m.end());
}

// Runs the program in a scratch folder of its own per test.
class Cli : public ::testing::Test {
 protected:
  struct Result {
    int status = -1;  // exit status, or 1000 + signal number
    std::string out, err;
  };

  void SetUp() override {
    if (std::getenv("CFIT_TEST_DATA") == nullptr) GTEST_SKIP() << "CFIT_TEST_DATA is not set";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("cfit_cli_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }

  void TearDown() override {
    if (!dir_.empty() && !HasFailure()) fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  pid_t Start(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = Path("stdout.txt"), err = Path("stderr.txt");
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> words{CFIT_TOOL_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, CFIT_TOOL_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "cannot start " << CFIT_TOOL_PATH;
    return rc == 0 ? pid : -1;
  }

  Result Collect(int status) {
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.out = Slurp(Path("stdout.txt"));
    r.err = Slurp(Path("stderr.txt"));
    return r;
  }

  Result Run(const std::vector<std::string>& args) {
    const pid_t pid = Start(args);
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return Result{};
    return Collect(status);
  }

  fs::path dir_;
};

TEST_F(Cli, HelpDescribesEveryCommandAndUsageErrorsExitTwo) {
  Result r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const std::string command : {"fit", "info", "sweep", "check"}) {
    EXPECT_TRUE(Contains(r.out, command));
    const Result help = Run({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(Contains(help.out, "Usage: cfit " + command)) << help.out;
  }
  EXPECT_EQ(Run({"help", "sweep"}).out, Run({"sweep", "-h"}).out);

  // A copy, so that a mistake taken for a valid command writes nothing beside
  // the bundled example.
  const std::string input = Path("ring.s2p");
  fs::copy_file(Example(), input);
  const std::vector<std::vector<std::string>> mistakes = {
      {},
      {"refit", input},
      {"fit"},
      {"fit", input, input},
      {"fit", "--no-such-option", input},
      {"fit", input, "--max-points"},
      {"fit", "--max-points", "0", input},
      {"fit", "--max-columns", "12x", input},
      {"fit", "--band-high", "5 parsecs", input},
      {"fit", "--band-low", "2GHz", "--band-high", "1GHz", input},
      {"fit", "--outputs", "pls,xyz", input},
      {"fit", "--outputs", "cir,sp", input},
      {"fit", "--format", "hex", input},
      {"fit", "--no-delays=yes", input},
      {"info", "--as", "netlist", input},
      {"sweep", "model.pls"},
      {"sweep", "--linear", "1,2", "model.pls"},
      {"sweep", "--linear", "2GHz,1GHz,1MHz", "model.pls"},
      {"sweep", "--list", "3,2,1", "model.pls"},
      {"sweep", "--adaptive", "1GHz", "--list", "1", "model.pls"},
      {"sweep", "--tolerance", "0.1", "--list", "1", "model.pls"},
      {"fit", "--passive=yes", input},
      {"check"},
      {"check", "--as", "netlist", input},
      {"check", "--threshold", "-1", input},
  };
  for (const auto& words : mistakes) {
    std::string shown;
    for (const std::string& w : words) shown += w + " ";
    r = Run(words);
    EXPECT_EQ(r.status, 2) << shown << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, "Usage: cfit")) << shown << "\n" << r.err;
  }
  // A usage error writes nothing: only the input and the captured streams.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(Cli, FitWritesOutputsThatReadBackAndASummaryThatIsTrue) {
  const Result r = Run(
      {"fit", "-o", Path("out"), "--comment", "board rev B\nsecond line", "--progress", Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string base = Path("out/ring_slot_sim");
  for (const char* suffix : {".pls", ".cir", "_model.s2p", ".log"}) {
    EXPECT_TRUE(fs::exists(base + suffix)) << suffix;
    EXPECT_TRUE(Contains(r.out, base + suffix)) << r.out;
  }
  EXPECT_TRUE(Contains(r.err, "fitting [")) << r.err;
  EXPECT_TRUE(Contains(r.err, "100%")) << r.err;

  // The model's Touchstone file, the pole file and the data agree.
  const Table data = ReadTable(Example());
  const Table model = ReadTable(base + "_model.s2p");
  ASSERT_EQ(model.ports, 2);
  ASSERT_EQ(model.frequencies, data.frequencies);
  EXPECT_LT(ModelDeviation(model, *ReadPoles(base + ".pls")), 1e-12);
  const double worst = LargestDifference(model, data);
  EXPECT_LT(worst, 1e-4);

  // The summary names the worst element with the deviation measured here.
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(r.out, m, std::regex(R"(worst element: S(\d)(\d), max error (\S+))")))
      << r.out;
  EXPECT_NEAR(std::stod(m[3]), worst, 0.01 * worst);
  const int i = std::stoi(m[1]) - 1, j = std::stoi(m[2]) - 1;
  double elementWorst = 0.0;
  for (std::size_t k = 0; k < data.values.size(); ++k) {
    elementWorst =
        std::max(elementWorst, std::abs(model.values[k][2 * i + j] - data.values[k][2 * i + j]));
  }
  EXPECT_DOUBLE_EQ(elementWorst, worst);

  const std::string netlist = Slurp(base + ".cir");
  EXPECT_TRUE(Contains(netlist, "\n.subckt ring_slot_sim x_1 x_2 ref\n")) << netlist;
  EXPECT_TRUE(netlist.ends_with(".ends\n"));
  EXPECT_TRUE(Slurp(base + ".pls").starts_with("!board rev B\n!second line\n"));
  EXPECT_TRUE(Slurp(base + "_model.s2p").starts_with("!board rev B\n!second line\n"));
  const std::string log = Slurp(base + ".log");
  EXPECT_TRUE(Contains(log, " Reading from touchstone file " + Example() + " start: "));
  EXPECT_TRUE(Contains(log, " Fitting start: "));
  EXPECT_TRUE(Contains(log, "worst element: "));
}

// A 2-port delay line: S21 = S12 = gain exp(-j 2 pi f 5 ns), small reflections.
std::string WriteDelayLine(const std::string& path, double gain = 0.9) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  std::fprintf(out, "# GHz S RI R 50\n");
  for (int k = 0; k < 200; ++k) {
    const double f = 1.0 + 0.05 * k;
    const double phase = -2.0 * M_PI * f * 5.0;
    std::fprintf(out, "%.6f 0.05 0 %.15f %.15f %.15f %.15f 0.05 0\n", f, gain * std::cos(phase),
                 gain * std::sin(phase), gain * std::cos(phase), gain * std::sin(phase));
  }
  std::fclose(out);
  return path;
}

TEST_F(Cli, FitOptionsReachTheFitter) {
  const std::string line = WriteDelayLine(Path("line.s2p"));
  auto delayOf21 = [](const std::string& pls) {
    Fitter f = ReadPoles(pls);
    int count = 0;
    double d = 0, e = 0, delay = -1;
    EXPECT_EQ(f->GetElementModelInfo(1, 0, &count, &d, &e, &delay), 1);
    return delay;
  };
  ASSERT_EQ(Run({"fit", "--outputs", "pls", line}).status, 0);
  EXPECT_GT(delayOf21(Path("line.pls")), 4e-9);
  ASSERT_EQ(Run({"fit", "--outputs", "pls", "--no-delays", "--name", "flat", line}).status, 0);
  EXPECT_EQ(delayOf21(Path("flat.pls")), 0.0);
  EXPECT_FALSE(fs::exists(Path("flat.cir")));
  EXPECT_FALSE(fs::exists(Path("flat_model.s2p")));

  // Common poles: every element comes back with the same pole count.
  Result r = Run({"fit", "-o", Path("common"), "--outputs", "sp", "--common-poles",
                  "--all-elements", Data("fourport_measured_75ohm.s4p")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path("common/fourport_measured_75ohm.sp")));
  EXPECT_FALSE(fs::exists(Path("common/fourport_measured_75ohm.cir")));
  const std::regex row(R"(\n  S\d\d +(\d+) )");
  std::vector<int> counts;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), row);
       it != std::sregex_iterator(); ++it) {
    counts.push_back(std::stoi((*it)[1]));
  }
  ASSERT_EQ(counts.size(), 16u) << r.out;  // not symmetric within 0.005: all 16 listed
  EXPECT_EQ(std::count(counts.begin(), counts.end(), counts[0]), 16) << r.out;

  // 0 Hz point, number format and the point limit.
  r = Run({"fit", "-o", Path("dc"), "--outputs", "ts", "--zero-hz", "--format", "db",
           "--max-points", "50", Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string model = Slurp(Path("dc/ring_slot_sim_model.s2p"));
  EXPECT_TRUE(Contains(model, "# HZ S  DB R")) << model.substr(0, 200);
  EXPECT_EQ(ReadTable(Path("dc/ring_slot_sim_model.s2p")).frequencies.front(), 0.0);
  EXPECT_TRUE(Contains(r.err, "the fit uses the first 50")) << r.err;
  EXPECT_TRUE(Contains(Slurp(Path("dc/ring_slot_sim.log")), "more points than allowed"));
}

TEST_F(Cli, FailuresExitOneWithTheLibraryMessage) {
  struct Case {
    std::vector<std::string> words;
    std::string message;
  };
  fs::copy_file(Example(), Path("x_model.s2p"));
  std::ofstream(Path("plain_file")) << "not a folder\n";
  std::ofstream(Path("bad.pls")) << "1\nR0: 50\n1\n1e9 0 0.5\n";  // a pole line of three numbers
  const std::vector<Case> cases = {
      {{"fit", Path("missing.s2p")}, "missing.s2p: no such file"},
      {{"fit", "-o", Path("out"), Data("reject_complex_reference.s2p")},
       "reject_complex_reference.s2p: Invalid touchstone syntax"},
      {{"fit", "-o", Path("out"), Data("hparam_spec_example_khz.s2p")},
       "We only support S-Y-Z parameter types"},
      {{"fit", "-o", Path("out"), "--outputs", "cir", Data("zparam_spec_example.s1p")},
       "a netlist needs S data"},
      {{"fit", "-o", Path("plain_file/sub"), Example()}, "cannot create the output directory"},
      {{"fit", "--name", "x", Path("x_model.s2p")}, "would overwrite the input"},
      {{"info", "--log", Path("x_model.s2p"), Path("x_model.s2p")}, "would overwrite the input"},
      {{"check", Data("v2_sixport_per_port_reference.ts")},
       "We only support S-Y-Z parameter types"},
      {{"info", "--as", "poles", Example()}, "ring_slot_sim.s2p: not a pole file"},
      {{"sweep", "--list", "1GHz", Path("x_model.s2p")}, "x_model.s2p: not a pole file"},
      {{"sweep", "--list", "1GHz", Path("bad.pls")}, "bad.pls: Invalid pls file format"},
      {{"check", Path("missing.pls")}, "missing.pls: no such file"},
      {{"check", Path("bad.pls")}, "bad.pls: Invalid pls file format"},
      {{"check", "--as", "touchstone", Path("bad.pls")}, "bad.pls: Invalid touchstone syntax"},
  };
  for (const Case& c : cases) {
    const Result r = Run(c.words);
    EXPECT_EQ(r.status, 1) << c.message << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, "cfit: error: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  }
  EXPECT_EQ(Slurp(Path("x_model.s2p")), Slurp(Example()));  // the input survived
  EXPECT_FALSE(fs::exists(Path("missing.log")));            // nothing made for a missing input
}

TEST_F(Cli, LogGoesToItsFileAndVerboseEchoesIt) {
  Result r =
      Run({"fit", "-o", Path("out"), "--log", Path("chosen.log"), "--outputs", "none", Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(Path("out/ring_slot_sim.log")));
  const std::string log = Slurp(Path("chosen.log"));
  EXPECT_TRUE(Contains(log, " Fitting start: "));
  EXPECT_TRUE(Contains(log, "*** Matrix component (2,1) is being fitted ***"));
  EXPECT_FALSE(Contains(r.out, " Fitting start: "));  // not echoed by default
  EXPECT_TRUE(Contains(r.out, Path("chosen.log")));

  r = Run({"fit", "-o", Path("out"), "--verbose", "--outputs", "none", Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, " Fitting start: "));
  EXPECT_TRUE(Contains(Slurp(Path("out/ring_slot_sim.log")), " Fitting start: "));

  // info keeps no log unless asked.
  r = Run({"info", "--log", Path("info.log"), Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(Slurp(Path("info.log")), "201 data points were read"));
}

// Ctrl-C during a running fit. The run log goes into a pipe with a small
// buffer that this test stops reading once the fit has started: the fit then
// blocks on its log long before it could finish, so the signal is sure to
// arrive while the fit runs.
TEST_F(Cli, CtrlCCancelsARunningFitAndWritesNothing) {
  const std::string fifo = Path("log.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // never waits for the writer
  ASSERT_GE(fd, 0);
  if (fcntl(fd, F_SETPIPE_SZ, 4096) < 0) {
    close(fd);
    GTEST_SKIP() << "the pipe buffer cannot be made small";
  }
  // Without symmetry the 8-port fits 64 elements and logs about 18 KB after
  // its start line, more than the pipe and the program's file buffer hold.
  const pid_t pid = Start({"fit", "-o", Path("out"), "--log", fifo, "--symmetry-tolerance", "0",
                           Data("package_8port_sim.s8p")});
  ASSERT_GT(pid, 0);
  std::string log;
  int status = 0;
  bool exited = false;
  const auto readSome = [&](int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) > 0) {
      char buffer[1024];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) log.append(buffer, static_cast<std::size_t>(n));
    }
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
  };
  while (!Contains(log, " Fitting start: ") && !exited) readSome(100);
  ASSERT_FALSE(exited) << log;

  ASSERT_EQ(kill(pid, SIGINT), 0);
  // Wait for the program to pass the request on to the fitter.
  while (!exited && !Contains(Slurp(Path("stderr.txt")), "stopping the fit")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == pid) exited = true;
  }
  while (!exited) readSome(100);
  readSome(0);
  close(fd);

  const Result r = Collect(status);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_TRUE(Contains(r.err, "fit cancelled with Ctrl-C; nothing was written")) << r.err;
  EXPECT_TRUE(Contains(log, " Fitting   end: ")) << log;
  std::size_t fitted = 0;
  for (std::size_t at = log.find("is being fitted"); at != std::string::npos;
       at = log.find("is being fitted", at + 1)) {
    ++fitted;
  }
  EXPECT_LT(fitted, 64u);
  EXPECT_TRUE(fs::is_empty(Path("out")));
}

TEST_F(Cli, InfoDescribesTouchstoneAndPoleFiles) {
  Result r = Run({"info", Data("fourport_measured_75ohm.s4p")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line :
       {"ports:       4\n", "points:      205\n", "band:        500 MHz to 4.5 GHz\n",
        "data type:   S (scattering parameters)\n",
        "format:      DB (dB, angle), frequencies in Hz", "reference:   75 ohm on every port\n",
        "symmetric:   no, relative asymmetry 0.0051",
        "comment:     network analyser,model A,serial A,firmware A\n"}) {
    EXPECT_TRUE(Contains(r.out, line)) << line << "\n" << r.out;
  }
  r = Run({"info", "--symmetry-tolerance", "0.01", Data("fourport_measured_75ohm.s4p")});
  EXPECT_TRUE(Contains(r.out, "symmetric:   yes")) << r.out;
  r = Run({"info", Data("zparam_spec_example.s1p")});
  EXPECT_TRUE(Contains(r.out, "data type:   Z (impedance parameters)")) << r.out;
  EXPECT_TRUE(Contains(r.out, "MA (magnitude, angle), frequencies in MHz")) << r.out;

  // A pole file: the pole counts are those the fit reported.
  r = Run({"fit", "-o", dir_.string(), "--outputs", "pls", Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex row(R"(\n  (S\d\d) +(\d+) )");
  std::string expected;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), row);
       it != std::sregex_iterator(); ++it) {
    expected += (expected.empty() ? "" : ", ") + (*it)[1].str() + " " + (*it)[2].str();
  }
  r = Run({"info", Path("ring_slot_sim.pls")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "kind:        pole file")) << r.out;
  EXPECT_TRUE(Contains(r.out, "ports:       2\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "band:        poles from ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "symmetric:   yes\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "(lower triangle): " + expected + "\n")) << expected << "\n" << r.out;
}

TEST_F(Cli, SweepWritesTheModelOnEachGrid) {
  ASSERT_EQ(Run({"fit", "-o", dir_.string(), "--outputs", "pls", Example()}).status, 0);
  const std::string pls = Path("ring_slot_sim.pls");
  Fitter model = ReadPoles(pls);
  const auto check = [&](const std::vector<std::string>& grid, const std::string& output) {
    std::vector<std::string> words = {"sweep"};
    words.insert(words.end(), grid.begin(), grid.end());
    words.push_back(pls);
    const Result r = Run(words);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, output)) << r.out;
    const Table t = ReadTable(output);
    EXPECT_LT(ModelDeviation(t, *model), 1e-12);
    return t.frequencies;
  };
  std::vector<double> f = check({"--linear", "75GHz,110GHz,5GHz"}, Path("ring_slot_sim_sweep.s2p"));
  EXPECT_EQ(f, (std::vector<double>{75e9, 80e9, 85e9, 90e9, 95e9, 100e9, 105e9, 110e9}));
  f = check({"--list", "1e9,76.5GHz,1THz", "-o", Path("list.s2p")}, Path("list.s2p"));
  EXPECT_EQ(f, (std::vector<double>{1e9, 76.5e9, 1e12}));
  f = check({"--at-data", Example(), "-o", Path("at.s2p"), "--format", "ma"}, Path("at.s2p"));
  EXPECT_EQ(f, ReadTable(Example()).frequencies);
  f = check({"--adaptive", "150GHz", "--zero-hz", "-o", Path("adaptive.s2p")},
            Path("adaptive.s2p"));
  ASSERT_GT(f.size(), 10u);
  EXPECT_EQ(f.front(), 0.0);
  EXPECT_GE(f.back(), 150e9);
  EXPECT_TRUE(std::is_sorted(f.begin(), f.end()));
  EXPECT_TRUE(fs::exists(Path("adaptive.log")));
}

// info and check measure the data as the file holds them: the largest
// squared singular value over the points, and the runs of points above 1.
TEST_F(Cli, InfoAndCheckReportTheDataPassivityOfTheSingularValues) {
  for (const std::string& file :
       std::vector<std::string>{Example(), Data("lowpass_filter_measured.s2p")}) {
    const Table t = ReadTable(file);
    double largest = 0.0, at = 0.0;
    std::vector<std::pair<double, double>> runs;  // first and last point above 1
    bool inside = false;
    for (std::size_t k = 0; k < t.values.size(); ++k) {
      const double m = SquaredSigmaMax(t.values[k].data());
      if (m > largest) largest = m, at = t.frequencies[k];
      if (m > 1.0 && !inside) runs.emplace_back(t.frequencies[k], t.frequencies[k]);
      if (m > 1.0) runs.back().second = t.frequencies[k];
      inside = m > 1.0;
    }
    const bool passive = largest <= 1.0;
    const Result info = Run({"info", file});
    ASSERT_EQ(info.status, 0) << info.err;
    auto found =
        Find(info.out, R"(\npassivity: +(passive|not passive), largest measure (\S+) at (.+)\n)");
    EXPECT_EQ(found[1] == "passive", passive) << file;
    EXPECT_NEAR(std::stod(found[2]), largest, 1e-5 * largest) << file;
    EXPECT_NEAR(Hertz(found[3]), at, 1e-6 * at) << file;

    const Result check = Run({"check", file});
    EXPECT_EQ(check.status, passive ? 0 : 1) << check.err;
    EXPECT_EQ(Find(check.out, R"(\nlargest: +(\S+) at)")[1], found[2]);
    EXPECT_EQ(Contains(check.err, "is not passive: largest measure " + found[2]), !passive);
    std::vector<std::pair<double, double>> bands;
    double highestPeak = 0.0;
    const std::regex band(R"(\n  (.+?) to (.+?), peak (\S+) at )");
    for (auto it = std::sregex_iterator(check.out.begin(), check.out.end(), band);
         it != std::sregex_iterator(); ++it) {
      bands.emplace_back(Hertz((*it)[1]), Hertz((*it)[2]));
      highestPeak = std::max(highestPeak, std::stod((*it)[3]));
    }
    ASSERT_EQ(bands.size(), runs.size()) << check.out;
    EXPECT_NEAR(highestPeak, passive ? 0.0 : largest, 1e-5 * largest);
    for (std::size_t b = 0; b < runs.size(); ++b) {
      EXPECT_NEAR(bands[b].first, runs[b].first, 1e-6 * runs[b].first) << b;
      EXPECT_NEAR(bands[b].second, runs[b].second, 1e-6 * runs[b].second) << b;
    }
  }
  EXPECT_EQ(Run({"check", "--threshold", "1.4", Data("lowpass_filter_measured.s2p")}).status, 0);
}

// The example's fit is slightly active near 0 Hz; --passive corrects it, the
// written files hold the corrected model, and a dense sweep independent of
// the library's adaptive one finds no violation left.
TEST_F(Cli, PassiveMakesTheFitPassiveAndCheckAgrees) {
  ASSERT_EQ(
      Run({"fit", "-o", dir_.string(), "--outputs", "pls", "--name", "plain", Example()}).status,
      0);
  Result r = Run({"check", Path("plain.pls")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Contains(r.out, "\npassivity:   not passive\n")) << r.out;
  EXPECT_TRUE(Contains(r.err, "plain.pls is not passive")) << r.err;
  const auto plain = Find(r.out, R"(\nlargest: +(\S+) at (.+)\n)");
  Fitter plainModel = ReadPoles(Path("plain.pls"));
  const double plainMeasure = std::stod(plain[1]);
  EXPECT_GT(plainMeasure, 1.0);
  EXPECT_NEAR(ModelSquaredSigmaMax(*plainModel, Hertz(plain[2])), plainMeasure, 1e-5);

  r = Run({"fit", "-o", dir_.string(), "--passive", Example()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "model passivity before enforcement: largest measure " + plain[1] +
                                  " at " + plain[2] + " (not passive)\n"))
      << r.out;
  const auto after =
      Find(r.out, R"(model passivity after enforcement:  largest measure (\S+) at (.+) )"
                  R"(\(passive\); enforced in )");
  const auto cost =
      Find(r.out, R"(accuracy before enforcement: rms (\S+), largest (\S+) \(S\d\d\)\n)"
                  R"(accuracy after enforcement:  rms (\S+), largest (\S+) \(S\d\d\)\n)");

  // The accuracy figures against the data, from the pole files.
  const Table data = ReadTable(Example());
  const std::string pls = Path("ring_slot_sim.pls");
  Fitter model = ReadPoles(pls);
  for (auto [fitter, rms, largest] : {std::tuple{plainModel.get(), cost[1], cost[2]},
                                      std::tuple{model.get(), cost[3], cost[4]}}) {
    double squares = 0.0, worst = 0.0;
    for (std::size_t k = 0; k < data.frequencies.size(); ++k) {
      for (int e = 0; e < 4; ++e) {
        const double d =
            std::abs(Evaluate(*fitter, e / 2, e % 2, data.frequencies[k]) - data.values[k][e]);
        squares += d * d;
        worst = std::max(worst, d);
      }
    }
    EXPECT_NEAR(std::stod(rms), std::sqrt(squares / (4.0 * data.frequencies.size())),
                0.01 * std::stod(rms));
    EXPECT_NEAR(std::stod(largest), worst, 0.01 * worst);
  }

  // Dense sweep of the written model: 0 Hz and 20,000 log-spaced points.
  double densest = ModelSquaredSigmaMax(*model, 0.0);
  for (int k = 0; k < 20000; ++k) {
    densest = std::max(densest, ModelSquaredSigmaMax(*model, 1e6 * std::pow(1e8, k / 19999.0)));
  }
  EXPECT_LE(densest, 1.0 + 1e-6);
  EXPECT_NEAR(ModelSquaredSigmaMax(*model, Hertz(after[2])), std::stod(after[1]), 1e-5);

  EXPECT_LT(ModelDeviation(ReadTable(Path("ring_slot_sim_model.s2p")), *model, 20), 1e-12);
  r = Run({"check", pls});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(
      r.out, "\nlargest:     " + after[1] + " at " + after[2] + "\npassivity:   passive\n"))
      << r.out;
  r = Run({"info", pls});
  EXPECT_TRUE(Contains(r.out, "\npassivity:   passive, largest measure " + after[1])) << r.out;
}

// --passive-data corrects active samples before the fit; a change smaller
// than the excess gain could not have made them passive.
TEST_F(Cli, PassiveDataCorrectsTheSamplesBeforeTheFit) {
  const std::string line = WriteDelayLine(Path("gain.s2p"), 1.05);
  const Table t = ReadTable(line);
  double largest = 0.0;
  for (const auto& h : t.values) largest = std::max(largest, SquaredSigmaMax(h.data()));
  EXPECT_EQ(Run({"check", line}).status, 1);

  const Result r = Run({"fit", "--passive-data", "--passive", "--outputs", "pls", line});
  ASSERT_EQ(r.status, 0) << r.err;
  const double before = std::stod(Find(
      r.out,
      R"(data passivity before enforcement: largest measure (\S+) at .+ \(not passive\)\n)")[1]);
  EXPECT_NEAR(before, largest, 1e-5 * largest);
  const double after = std::stod(Find(
      r.out, R"(data passivity after enforcement:  largest measure (\S+) at .+ \(passive\))")[1]);
  const double change = std::stod(Find(r.out, R"(data changed by at most (\S+) \(S\d\d at )")[1]);
  // |sigma(H) - sigma(H')| <= |H - H'|_2 <= 2 * largest element change for 2 x 2.
  EXPECT_GE(2.0 * change, std::sqrt(before) - std::sqrt(after) - 1e-3);
  EXPECT_EQ(Run({"check", Path("gain.pls")}).status, 0);

  // Passive data are left alone.
  const Result passive =
      Run({"fit", "--passive-data", "--outputs", "none", WriteDelayLine(Path("line.s2p"))});
  ASSERT_EQ(passive.status, 0) << passive.err;
  EXPECT_TRUE(
      Contains(passive.out, "data passivity after enforcement:  unchanged, nothing to enforce"))
      << passive.out;
}

}  // namespace
