// End-to-end tests of the cfit program: they run the built binary on real
// files and read what it wrote back through the library's public header.
#include <cfit/cfit.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Fitter = std::unique_ptr<cFitAPI>;
using Words = std::vector<std::string>;
using Matrix = std::array<std::complex<double>, 4>;  // a 2-port's values, row by row

const std::string kExample = CFIT_EXAMPLES_DIR "/ring_slot_sim.s2p";

std::string Slurp(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// The points of a 2-port Touchstone file as the library reads them, without
// symmetrising.
struct Table {
  std::vector<double> frequencies;
  std::vector<Matrix> values;
};

Table ReadTable(const std::string& path) {
  cFitParams params;
  params.symmetryTolerance = 0.0;
  Fitter fitter(cFitAPI::Create(&params));
  EXPECT_EQ(fitter->ReadTouchstone(path.c_str()), 2) << path;
  Table t;
  for (DataPointRecord* r = fitter->GetFirstDataPoint(); r; r = fitter->GetNextDataPoint()) {
    t.frequencies.push_back(r->frequency);
    Matrix& h = t.values.emplace_back();
    for (int e = 0; e < 4; ++e)
      h[e] = {r->values[e / 2][e % 2 * 2], r->values[e / 2][e % 2 * 2 + 1]};
  }
  return t;
}

Fitter ReadPoles(const std::string& path) {
  Fitter fitter(cFitAPI::Create(nullptr));
  EXPECT_GT(fitter->ReadPoles(path.c_str()), 0) << path;
  return fitter;
}

Matrix Evaluate(cFitAPI& model, double f) {
  Matrix h;
  for (int e = 0; e < 4; ++e) {
    double v[2] = {0.0, 0.0};
    EXPECT_EQ(model.EvaluateModelElement(e / 2, e % 2, f, v), 1);
    h[e] = {v[0], v[1]};
  }
  return h;
}

// Deviation of a 2-port model from a table: the largest per element, then the
// largest of all.
std::array<double, 5> Compare(const Table& t, cFitAPI& model) {
  std::array<double, 5> r{};
  for (std::size_t k = 0; k < t.frequencies.size(); ++k) {
    const Matrix h = Evaluate(model, t.frequencies[k]);
    for (int e = 0; e < 4; ++e) {
      r[e] = std::max(r[e], std::abs(t.values[k][e] - h[e]));
      r[4] = std::max(r[4], r[e]);
    }
  }
  return r;
}

// Square of the largest singular value of a 2 x 2 matrix, in closed form from
// its Frobenius norm and determinant.
double SquaredSigmaMax(const Matrix& h) {
  const double frobenius = std::norm(h[0]) + std::norm(h[1]) + std::norm(h[2]) + std::norm(h[3]);
  const double det = std::abs(h[0] * h[3] - h[1] * h[2]);
  return 0.5 * (frobenius + std::sqrt(std::max(0.0, frobenius * frobenius - 4.0 * det * det)));
}

// "10.625 GHz" in hertz.
double Hertz(const std::string& text) {
  std::istringstream in(text);
  double value = 0.0;
  std::string unit;
  in >> value >> unit;
  const auto at = std::string(" Hz  kHz MHz GHz THz").find(" " + unit);
  EXPECT_NE(at, std::string::npos) << text;
  return value * std::pow(1e3, static_cast<double>(at / 4));
}

// Captures of every match of `pattern` in `text`; Find: of the first, which
// must exist.
std::vector<std::smatch> FindAll(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return {std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()};
}
Words Find(const std::string& text, const std::string& pattern) {
  const auto all = FindAll(text, pattern);
  if (!all.empty()) return {all[0].begin(), all[0].end()};
  ADD_FAILURE() << "no match for " << pattern << " in\n" << text;
  return Words(5);
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
    std::string name = (fs::temp_directory_path() / "cfit_cli_XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    if (!HasFailure() && !dir_.empty()) fs::remove_all(dir_);
  }

  // A file of the scratch folder ("@name", "@" the folder itself), of the real
  // files ("%name") or the bundled example ("EXAMPLE").
  std::string Path(const std::string& word) const {
    if (word.starts_with("%")) return std::getenv("CFIT_TEST_DATA") + ("/" + word.substr(1));
    if (word == "EXAMPLE") return kExample;
    return word.starts_with("@") ? (dir_ / word.substr(1)).string() : word;
  }

  // Starts the program on the words of `line` (each one through Path).
  pid_t Start(const std::string& line) {
    std::istringstream in(line);
    Words words{CFIT_TOOL_PATH};
    for (std::string w; in >> w;) words.push_back(Path(w));
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    fs::remove(Path("@out")), fs::remove(Path("@err"));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, Path("@out").c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, Path("@err").c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, CFIT_TOOL_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  Result Collect(int status) {
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status), Slurp(Path("@out")),
            Slurp(Path("@err"))};
  }
  Result Run(const std::string& line) {
    int status = 0;
    const pid_t pid = Start(line);
    return pid > 0 && waitpid(pid, &status, 0) == pid ? Collect(status) : Result{};
  }

  fs::path dir_;
};

TEST_F(Cli, HelpDescribesEveryCommandAndUsageErrorsExitTwoWritingNothing) {
  for (const std::string command : {"fit", "info", "sweep", "check"}) {
    EXPECT_TRUE(Has(Run("--help").out, command));
    EXPECT_TRUE(Has(Run(command + " --help").out, "Usage: cfit " + command)) << command;
  }
  // A copy, so that a mistake taken for a valid command writes nothing beside
  // the bundled example.
  fs::copy_file(kExample, Path("@in.s2p"));
  for (const char* line :
       {"", "refit @in.s2p", "fit", "fit @in.s2p @in.s2p", "fit --no-such-option @in.s2p",
        "fit @in.s2p --max-points", "fit --max-columns 12x @in.s2p",
        "fit --band-low 2GHz --band-high 1GHz @in.s2p", "fit --outputs cir,sp @in.s2p",
        "fit --no-delays=yes @in.s2p", "info --as netlist @in.s2p", "sweep --list 3,2,1 m.pls",
        "sweep --adaptive 1GHz --list 1 m.pls", "check --threshold -1 @in.s2p"}) {
    const Result r = Run(line);
    EXPECT_TRUE(r.status == 2 && Has(r.err, "Usage: cfit")) << line << "\n" << r.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

// Outputs, summary and log of a fit. The example's single-pass fit is
// slightly active near 0 Hz; --passive corrects it and the written files
// hold the corrected model (whose passivity tests/passivity/dense_check.py
// checks densely).
TEST_F(Cli, FitWritesOutputsASummaryThatIsTrueItsLogAndPassiveCorrectsIt) {
  Result r = Run("fit -o @o --comment rev_B --progress --single-pass EXAMPLE");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string base = Path("@o/ring_slot_sim");
  for (const char* suffix : {".pls", ".cir", "_model.s2p", ".log"}) {
    EXPECT_TRUE(fs::exists(base + suffix) && Has(r.out, base + suffix)) << suffix << r.out;
  }
  EXPECT_TRUE(Has(r.err, "fitting [") && Has(r.err, "100%")) << r.err;
  // The model's Touchstone file, the pole file and the data agree; the
  // summary names the worst element with the deviation measured here.
  const Table data = ReadTable(kExample), model = ReadTable(base + "_model.s2p");
  Fitter poles = ReadPoles(base + ".pls");
  ASSERT_EQ(model.frequencies, data.frequencies);
  EXPECT_LT(Compare(model, *poles)[4], 1e-12);
  const auto errors = Compare(data, *poles);
  EXPECT_LT(errors[4], 1e-4);
  const auto worst = Find(r.out, R"(worst element: S(\d)(\d), max error (\S+))");
  EXPECT_NEAR(std::stod(worst[3]), errors[4], 0.01 * errors[4]);
  EXPECT_EQ(errors[2 * std::stoi(worst[1]) + std::stoi(worst[2]) - 3], errors[4]);
  EXPECT_TRUE(Has(Slurp(base + ".cir"), "\n.subckt ring_slot_sim x_1 x_2 ref\n"));
  EXPECT_TRUE(Slurp(base + ".pls").starts_with("!rev_B\n"));
  EXPECT_TRUE(Has(Slurp(base + ".log"), " Reading from touchstone file " + kExample + " start: "));
  EXPECT_FALSE(Has(r.out, " Fitting start: "));  // the log is not echoed by default

  r = Run("fit -o @v --log @my.log --verbose --outputs none EXAMPLE");
  EXPECT_FALSE(fs::exists(Path("@v/ring_slot_sim.log"))) << r.err;
  EXPECT_TRUE(Has(Slurp(Path("@my.log")), "*** Matrix component (2,1) is being fitted ***"));
  EXPECT_TRUE(Has(r.out, " Fitting start: ") && Has(r.out, Path("@my.log"))) << r.out;

  r = Run("check @o/ring_slot_sim.pls");
  EXPECT_TRUE(r.status == 1 && Has(r.out, "\npassivity:   not passive\n") &&
              Has(r.err, "ring_slot_sim.pls is not passive"))
      << r.out << r.err;
  const auto plain = Find(r.out, R"(\nlargest: +(\S+) at (.+)\n)");
  EXPECT_NEAR(SquaredSigmaMax(Evaluate(*poles, Hertz(plain[2]))), std::stod(plain[1]), 1e-5);

  r = Run("fit -o @ --passive --single-pass EXAMPLE");
  EXPECT_TRUE(Has(r.out, "model passivity before enforcement: largest measure " + plain[1] +
                             " at " + plain[2] + " (not passive)\n"))
      << r.out << r.err;
  const auto after = Find(r.out, R"(model passivity after enforcement:  largest measure (\S+) )"
                                 R"(at (.+) \(passive\); enforced in )");
  const auto cost =
      Find(r.out, R"(accuracy before enforcement: rms \S+, largest (\S+) \(S\d\d\)\n)"
                  R"(accuracy after enforcement:  rms \S+, largest (\S+) \(S\d\d\)\n)");
  // The accuracy figures against the data, from the pole files.
  Fitter passive = ReadPoles(Path("@ring_slot_sim.pls"));
  const auto now = Compare(data, *passive);
  EXPECT_NEAR(std::stod(cost[1]), errors[4], 0.01 * errors[4]);
  EXPECT_NEAR(std::stod(cost[2]), now[4], 0.01 * now[4]);
  EXPECT_NEAR(SquaredSigmaMax(Evaluate(*passive, Hertz(after[2]))), std::stod(after[1]), 1e-5);
  EXPECT_LT(Compare(ReadTable(Path("@ring_slot_sim_model.s2p")), *passive)[4], 1e-12);
  r = Run("check @ring_slot_sim.pls");
  EXPECT_TRUE(r.status == 0 && Has(r.out, "\nlargest:     " + after[1] + " at " + after[2] +
                                              "\npassivity:   passive\n"))
      << r.out;
  EXPECT_TRUE(Has(Run("info @ring_slot_sim.pls").out,
                  "\npassivity:   passive, largest measure " + after[1]));
}

// The fit iterates the pole relocation by default and says so; its model is
// no less accurate than the library's single pass, which --single-pass
// gives unchanged (the same model as the library's Fit through the public
// header).
TEST_F(Cli, FitIteratesByDefaultAndSinglePassGivesTheLibrarysFit) {
  const Table data = ReadTable(kExample);
  Fitter library(cFitAPI::Create(nullptr));
  ASSERT_EQ(library->ReadTouchstone(kExample.c_str()), 2);
  ASSERT_EQ(library->Fit(), 1);
  struct Case {
    const char* options;
    const char* algorithm;  // pattern of the summary's algorithm line
  } cases[] = {
      {"--single-pass", "algorithm: single relocation pass \\(the library's Fit\\)\n"},
      {"",
       "algorithm: iterated pole relocation \\(at most 20 iterations\\): 3 elements, "
       "\\d+ to \\d+ iterations, poles settled in \\d of 3\n"},
      {"--common-poles --iterations 4",
       "algorithm: iterated pole relocation \\(at most 4 iterations\\): [0-4] iterations, "
       "poles (settled|did not settle)\n"},
      {"--common-poles --target-error 1e-6 --max-order 12",
       "algorithm: iterated pole relocation \\(at most 20 iterations, target error 1e-06, "
       "order at most 12\\): \\d+ iterations, poles (settled|did not settle)\n"},
  };
  std::vector<double> worst;
  for (const Case& c : cases) {
    const Result r = Run(std::string("fit -o @ --outputs pls ") + c.options + " EXAMPLE");
    ASSERT_EQ(r.status, 0) << c.options << r.err;
    Find(r.out, c.algorithm);
    Fitter model = ReadPoles(Path("@ring_slot_sim.pls"));
    worst.push_back(Compare(data, *model)[4]);
    if (std::string(c.options) == "--single-pass") {
      // The same model up to the pole file's 15 digits.
      for (double f : data.frequencies) {
        const Matrix a = Evaluate(*model, f), b = Evaluate(*library, f);
        for (int e = 0; e < 4; ++e) EXPECT_LT(std::abs(a[e] - b[e]), 1e-12) << f;
      }
    }
    if (Has(c.options, "max-order")) {
      // Real poles plus two per pair (the constant is held as a pole at 1e25).
      std::vector<double> poles(400), residues(400);
      const int terms = model->GetElementPolesResidues(0, 0, poles.data(), residues.data());
      int order = 0;
      for (int t = 0; t < terms; ++t)
        order += poles[2 * t] > 1e24 ? 0 : poles[2 * t + 1] != 0 ? 2 : 1;
      EXPECT_TRUE(order > 0 && order <= 12) << order;
    }
    fs::remove(Path("@ring_slot_sim.pls"));
  }
  EXPECT_LE(worst[1], worst[0]);
  for (const char* line : {"fit --single-pass --iterations 3 EXAMPLE", "fit --max-order 0 EXAMPLE",
                           "fit --iterations -1 EXAMPLE", "fit --target-error 2 EXAMPLE"}) {
    const Result r = Run(line);
    EXPECT_TRUE(r.status == 2 && Has(r.err, "Usage: cfit")) << line << "\n" << r.err;
  }
}

TEST_F(Cli, FailuresExitOneWithTheLibraryMessage) {
  fs::copy_file(kExample, Path("@x_model.s2p"));
  std::ofstream(Path("@plain_file")) << "not a folder\n";
  std::ofstream(Path("@bad.pls")) << "1\nR0: 50\n1\n1e9 0 0.5\n";  // a pole line of three numbers
  ASSERT_EQ(Run("fit -o @ --outputs pls EXAMPLE").status, 0);
  // check reads Touchstone files through the host's version 1 reader.
  for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
           {"fit @missing.s2p", "missing.s2p: no such file"},
           {"fit -o @o %reject_complex_reference.s2p", "Invalid touchstone syntax"},
           {"fit -o @o --outputs cir %zparam_spec_example.s1p", "a netlist needs S data"},
           {"fit -o @plain_file/sub EXAMPLE", "cannot create the output directory"},
           {"fit --name x @x_model.s2p", "would overwrite the input"},
           {"check %v2_sixport_per_port_reference.ts", "We only support S-Y-Z parameter types"},
           {"info --as poles EXAMPLE", "ring_slot_sim.s2p: not a pole file"},
           {"sweep --list 1GHz @bad.pls", "bad.pls: Invalid pls file format"},
           {"sweep --list 1GHz -o /dev/full @ring_slot_sim.pls", "cannot write /dev/full"}}) {
    const Result r = Run(line);
    EXPECT_TRUE(r.status == 1 && Has(r.err, "cfit: error: ") && Has(r.err, message)) << r.err;
  }
  EXPECT_EQ(Slurp(Path("@x_model.s2p")), Slurp(kExample));  // the input survived
  EXPECT_FALSE(fs::exists(Path("@missing.log")));           // nothing made for a missing input
}

// A report that cannot be written to standard output is a failure too.
TEST_F(Cli, AnUnwritableStandardOutputFails) {
  const std::string line = std::string(CFIT_TOOL_PATH) + " info " + kExample;
  EXPECT_EQ(std::system((line + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_NE(std::system((line + " >/dev/full 2>/dev/null").c_str()), 0);
}

// Ctrl-C during a running fit. The run log goes into a pipe of 4 KB that this
// test leaves unread: the log before the fit starts is under 1 KB, the fit of
// the 8-port without symmetry (64 elements) logs about 18 KB, so once the pipe
// holds 1 KB the fit runs and cannot finish before the signal arrives.
TEST_F(Cli, CtrlCCancelsARunningFitAndWritesNothing) {
  ASSERT_EQ(mkfifo(Path("@log").c_str(), 0600), 0);
  const int fd = open(Path("@log").c_str(), O_RDWR | O_NONBLOCK);  // never waits for a writer
  ASSERT_GE(fd, 0);
  if (fcntl(fd, F_SETPIPE_SZ, 4096) != 4096) GTEST_SKIP() << "the pipe cannot be made 4 KB";
  const pid_t pid = Start("fit -o @o --log @log --symmetry-tolerance 0 %package_8port_sim.s8p");
  int status = 0, queued = 0;
  bool exited = false;
  const auto ended = [&] { return exited = exited || waitpid(pid, &status, WNOHANG) == pid; };
  while (queued < 1024 && !ended()) {
    usleep(1000);
    ioctl(fd, FIONREAD, &queued);
  }
  ASSERT_FALSE(exited) << "the program ended early";
  ASSERT_EQ(kill(pid, SIGINT), 0);
  // Once the program has passed the request on to the fitter, drain the log.
  while (!ended() && !Has(Slurp(Path("@err")), "stopping the fit")) usleep(1000);
  std::string log;
  char buffer[4096];
  for (bool done = false; !done; usleep(1000)) {
    done = ended();
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) log.append(buffer, n);
  }
  close(fd);
  const Result r = Collect(status);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "fit cancelled with Ctrl-C; nothing was written")) << r.err;
  EXPECT_TRUE(Has(log, " Fitting start: ") && Has(log, " Fitting   end: ")) << log;
  EXPECT_LT(FindAll(log, "is being fitted").size(), 64u);
  EXPECT_TRUE(fs::is_empty(Path("@o")));
}

// info of Touchstone files (version 2.0 too); info and check report one
// passivity measure of the data (the measure itself is cross-checked with
// numpy by tests/passivity/measure_crosscheck.py).
TEST_F(Cli, InfoAndCheckDescribeTouchstoneFilesAndTheirPassivity) {
  EXPECT_TRUE(Has(Run("info %fourport_measured_75ohm.s4p").out,
                  "ports:       4\npoints:      205\nband:        500 MHz to 4.5 GHz\n"
                  "data type:   S (scattering parameters)\nformat:      DB (dB, angle), "
                  "frequencies in Hz (option line: # Hz S dB R 75)\nreference:   75 ohm on every "
                  "port\nsymmetric:   no, relative asymmetry 0.00515703"));
  const std::string v2 = Run("info %v2_sixport_per_port_reference.ts").out;
  EXPECT_TRUE(Has(v2, "ports:       6\npoints:      17\n") &&
              Has(v2, "reference:   50, 75, 0.01, 1, 2, 3 ohm (ports 1 to 6)\n"))
      << v2;
  for (const auto& [file, passive] :
       {std::pair{kExample, true}, std::pair{Path("%lowpass_filter_measured.s2p"), false}}) {
    const auto found = Find(Run("info " + file).out,
                            R"(\npassivity: +(passive|not passive), largest measure (\S+) at )");
    EXPECT_EQ(found[1] == "passive", passive) << file;
    const Result check = Run("check " + file);
    EXPECT_EQ(check.status, passive ? 0 : 1) << check.err;
    EXPECT_EQ(Find(check.out, R"(\nlargest: +(\S+) at)")[1], found[2]);
    EXPECT_EQ(Has(check.err, "is not passive: largest measure " + found[2]), !passive);
  }
  EXPECT_EQ(Run("check --threshold 1.4 %lowpass_filter_measured.s2p").status, 0);
}

TEST_F(Cli, InfoAndSweepOfAPoleFile) {
  Result r = Run("fit -o @ --outputs pls EXAMPLE");
  r = Run("info @ring_slot_sim.pls");
  EXPECT_TRUE(Has(r.out, "kind:        pole file") && Has(r.out, "symmetric:   yes\n")) << r.out;
  Fitter model = ReadPoles(Path("@ring_slot_sim.pls"));
  const auto sweep = [&](const std::string& grid, const std::string& output) {
    r = Run("sweep " + grid + " -o " + output + " @ring_slot_sim.pls");
    EXPECT_TRUE(r.status == 0 && Has(r.out, Path(output))) << r.err << r.out;
    const Table t = ReadTable(Path(output));
    EXPECT_LT(Compare(t, *model)[4], 1e-12);
    return t.frequencies;
  };
  EXPECT_EQ(sweep("--linear 75GHz,110GHz,5GHz", "@lin.s2p"),
            (std::vector<double>{75e9, 80e9, 85e9, 90e9, 95e9, 100e9, 105e9, 110e9}));
  EXPECT_EQ(sweep("--list 1e9,76.5GHz,1THz", "@list.s2p"),
            (std::vector<double>{1e9, 76.5e9, 1e12}));
  EXPECT_EQ(sweep("--at-data EXAMPLE --format ma", "@at.s2p"), ReadTable(kExample).frequencies);
  const auto f = sweep("--adaptive 150GHz --zero-hz", "@a.s2p");
  EXPECT_TRUE(f.size() > 10 && f.front() == 0.0 && f.back() >= 150e9 &&
              std::is_sorted(f.begin(), f.end()));
  EXPECT_TRUE(fs::exists(Path("@a.log")));
}

// --passive-data corrects the active samples of a measured filter before the
// fit and leaves passive ones alone; a change smaller than the excess gain
// could not have made them passive: |sigma(H) - sigma(H')| <= |H - H'|_2 <=
// 2 max |element change|.
TEST_F(Cli, PassiveDataCorrectsTheSamplesBeforeTheFit) {
  const Result r =
      Run("fit -o @ --passive-data --passive --outputs pls %lowpass_filter_measured.s2p");
  const auto measures = Find(
      r.out, R"(data passivity before enforcement: largest measure (\S+) at .+ \(not passive\)\n)"
             R"(data passivity after enforcement:  largest measure (\S+) at .+ \(passive\))");
  const double before = std::stod(measures[1]), after = std::stod(measures[2]);
  const double change = std::stod(Find(r.out, R"(data changed by at most (\S+) \(S\d\d at )")[1]);
  EXPECT_GE(2.0 * change, std::sqrt(before) - std::sqrt(after) - 1e-3);
  EXPECT_EQ(Run("check @lowpass_filter_measured.pls").status, 0);
  EXPECT_TRUE(Has(Run("fit --passive-data --outputs none -o @ EXAMPLE").out,
                  "data passivity after enforcement:  unchanged, nothing to enforce"));
}

}  // namespace
