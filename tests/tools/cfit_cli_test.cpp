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
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
using Values = std::vector<std::complex<double>>;

const std::string kExample = CFIT_EXAMPLES_DIR "/ring_slot_sim.s2p";

std::string Slurp(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// A Touchstone file as the library reads it (not symmetrised unless a
// tolerance is given), after `steps` applied in the library: the port count, the impedances, the
// frequencies and the values point after point, row by row.
struct Network {
  int ports = 0;
  std::vector<double> z0, frequencies;
  Values values;
};

Network ReadNetwork(const std::string& path, const std::function<void(cFitAPI&)>& steps = nullptr,
                    double symmetryTolerance = 0.0) {
  cFitParams params;
  params.symmetryTolerance = symmetryTolerance;
  Fitter fitter(cFitAPI::Create(&params));
  EXPECT_GT(fitter->ReadTouchstone(path.c_str()), 0) << path;
  if (steps) steps(*fitter);
  Network n;
  n.ports = fitter->GetPortCount();
  if (n.ports > 0)
    n.z0.assign(fitter->GetReferenceImpedances(), fitter->GetReferenceImpedances() + n.ports);
  for (DataPointRecord* r = fitter->GetFirstDataPoint(); r; r = fitter->GetNextDataPoint()) {
    n.frequencies.push_back(r->frequency);
    for (int e = 0; e < n.ports * n.ports; ++e)
      n.values.emplace_back(r->values[e / n.ports][e % n.ports * 2],
                            r->values[e / n.ports][e % n.ports * 2 + 1]);
  }
  return n;
}

// Largest difference between the values of two networks of the same shape
// (frequencies as written to 1e-12), relative to the largest value of
// `want`; 1 when the shapes differ.
double Deviation(const Network& got, const Network& want) {
  bool same = got.ports == want.ports && got.z0 == want.z0 &&
              got.frequencies.size() == want.frequencies.size();
  for (std::size_t k = 0; same && k < got.frequencies.size(); ++k)
    same = std::abs(got.frequencies[k] - want.frequencies[k]) <= 1e-12 * want.frequencies[k];
  if (!same) return 1;
  double worst = 0.0, scale = 0.0;
  for (const auto& w : want.values) scale = std::max(scale, std::abs(w));
  for (std::size_t k = 0; k < got.values.size(); ++k)
    worst = std::max(worst, std::abs(got.values[k] - want.values[k]) / scale);
  return worst;
}

Fitter ReadPoles(const std::string& path) {
  Fitter fitter(cFitAPI::Create(nullptr));
  EXPECT_GT(fitter->ReadPoles(path.c_str()), 0) << path;
  return fitter;
}

// The values of an n-port model at f, row by row.
Values Evaluate(cFitAPI& model, double f, int n = 2) {
  Values h;
  for (int e = 0; e < n * n; ++e) {
    double v[2] = {0.0, 0.0};
    EXPECT_EQ(model.EvaluateModelElement(e / n, e % n, f, v), 1);
    h.emplace_back(v[0], v[1]);
  }
  return h;
}

// Largest difference between the elements of two n-port models at
// `frequencies`.
double ModelGap(cFitAPI& a, cFitAPI& b, int n, const std::vector<double>& frequencies) {
  double gap = 0.0;
  for (double f : frequencies) {
    const Values x = Evaluate(a, f, n), y = Evaluate(b, f, n);
    for (int e = 0; e < n * n; ++e) gap = std::max(gap, std::abs(x[e] - y[e]));
  }
  return gap;
}

// Deviation of a model from a file's data: the largest per element (row by
// row), then the largest of all.
std::vector<double> Compare(const Network& data, cFitAPI& model) {
  const std::size_t n = data.ports;
  std::vector<double> r(n * n + 1, 0.0);
  for (std::size_t k = 0; k < data.frequencies.size(); ++k) {
    const Values h = Evaluate(model, data.frequencies[k], data.ports);
    for (std::size_t e = 0; e < n * n; ++e) {
      r[e] = std::max(r[e], std::abs(data.values[k * n * n + e] - h[e]));
      r.back() = std::max(r.back(), r[e]);
    }
  }
  return r;
}

// Square of the largest singular value of a 2 x 2 matrix, in closed form from
// its Frobenius norm and determinant.
double SquaredSigmaMax(const Values& h) {
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
  for (const std::string command : {"fit", "info", "sweep", "check", "convert", "join", "cascade",
                                    "element", "rlc", "response", "netlist"}) {
    EXPECT_TRUE(Has(Run("--help").out, command));
    EXPECT_TRUE(Has(Run(command + " --help").out, "Usage: cfit " + command)) << command;
  }
  // A copy, so that a mistake taken for a valid command writes nothing beside
  // the bundled example.
  fs::copy_file(kExample, Path("@in.s2p"));
  // The usage errors, one per "|".
  const std::string lines =
      "|refit @in.s2p|fit|fit @in.s2p @in.s2p|fit --no-such-option @in.s2p|"
      "fit @in.s2p --max-points|fit --max-columns 12x @in.s2p|"
      "fit --band-low 2GHz --band-high 1GHz @in.s2p|fit --outputs cir,sp @in.s2p|"
      "fit --no-delays=yes @in.s2p|info --as netlist @in.s2p|sweep --list 3,2,1 m.pls|"
      "sweep --adaptive 1GHz --list 1 m.pls|check --threshold -1 @in.s2p|"
      "join @in.s2p -o @j.s4p|join @in.s2p @in.s2p|join @in.s2p m.pls -o @j.s4p|"
      "cascade @in.s2p -o @c.s2p|cascade @in.s2p @in.s2p|response --rise 20x m.pls|"
      "response --kind ramp m.pls|response --element 0,1 m.pls|response --element 1 m.pls|"
      "response --end 1mhz m.pls|fit --netlist spice @in.s2p|netlist m.pls|"
      "netlist --form both -o @n.cir m.pls|netlist --form laplace --name n -o @n.cir m.pls|"
      "fit --passive --enforcement fast @in.s2p|fit --single-pass --iterations 3 @in.s2p|"
      "fit --max-order 0 @in.s2p|fit --iterations -1 @in.s2p|fit --target-error 2 @in.s2p|"
      "fit --series-element --passive @in.s2p|element --extract w -o @x.s1p @in.s2p|"
      "element --idealize @in.s2p|rlc 10 1n -o @x.pls|rlc 10 1n 1p --type q -o @x.pls|"
      "rlc 10 0 1p -o @x.pls|rlc 10 1n 1p|rlc 10 1n 1pF -o @x.pls|"
      "convert m.pls -o @o.pls --format ri";
  for (std::size_t start = 0, bar = 0; bar != std::string::npos; start = bar + 1) {
    bar = lines.find('|', start);
    const std::string line = lines.substr(start, bar - start);
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
  const Network data = ReadNetwork(kExample), model = ReadNetwork(base + "_model.s2p");
  Fitter poles = ReadPoles(base + ".pls");
  ASSERT_EQ(model.frequencies, data.frequencies);
  EXPECT_LT(Compare(model, *poles).back(), 1e-12);
  const auto errors = Compare(data, *poles);
  EXPECT_LT(errors[4], 1e-4);
  const auto worst = Find(r.out, R"(worst element: S(\d)(\d), max error (\S+))");
  EXPECT_NEAR(std::stod(worst[3]), errors[4], 0.01 * errors[4]);
  EXPECT_EQ(errors[2 * std::stoi(worst[1]) + std::stoi(worst[2]) - 3], errors[4]);
  // The default netlist is the equivalent circuit (the LAPLACE form is asked
  // for by name).
  EXPECT_TRUE(Has(Slurp(base + ".cir"), "\n.subckt ring_slot_sim p_1 p_2 ref\n"));
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
  // The exact certificate sees the same violation at 0 Hz with the same measure.
  const auto band = Find(r.out, R"(\ncertificate: not passive \(exact, .*\), (\d+) bands?\n)"
                                R"(  0 Hz to (\S+) (\S+), worst measure (\S+) at 0 Hz\n)");
  EXPECT_EQ(plain[2], "0 Hz");
  EXPECT_NEAR(std::stod(band[4]), std::stod(plain[1]), 1e-5) << r.out;
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
  EXPECT_LT(Compare(ReadNetwork(Path("@ring_slot_sim_model.s2p")), *passive).back(), 1e-12);
  r = Run("check @ring_slot_sim.pls");
  EXPECT_TRUE(r.status == 0 && Has(r.out, "\nlargest:     " + after[1] + " at " + after[2] +
                                              "\npassivity:   passive\n"))
      << r.out;
  EXPECT_TRUE(Has(Run("info @ring_slot_sim.pls").out,
                  "\npassivity:   passive, largest measure " + after[1]));
}

// After the default enforcement (residue perturbation) the sampled sweep
// and the exact certificate both call the model passive, and it keeps more
// of the fit's accuracy than the library's loops (--enforcement classic).
TEST_F(Cli, CertificateJudgesAndPerturbationKeepsAccuracy) {
  struct Kind {
    const char* option;
    const char* algorithm;
  };
  std::vector<double> accuracy;
  // The example's individual fit violates beyond its band through poles the
  // band needs: the perturbation adds damped ones there.
  for (const Kind& k : {Kind{"", "residue perturbation under the exact certificate, with "},
                        Kind{"--enforcement classic", "the library's peak-by-peak loops"}}) {
    const std::string dir = std::string("@") + (k.option[0] ? "c" : "p");
    const Result r = Run("fit --passive --outputs pls -o " + dir + " " + k.option + " EXAMPLE");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, std::string("\npassivity enforcement: ") + k.algorithm)) << r.out;
    // The loops stop at their sampled check's tolerance (1.00002 on this
    // fit, and the fit says so); the check agrees with what the fit said.
    const Result check = Run("check " + dir + "/ring_slot_sim.pls");
    const bool said = Has(r.out, "(passive); enforced in");
    EXPECT_EQ(check.status == 0 && Has(check.out, "\npassivity:   passive\n"), said)
        << r.out << check.out;
    if (k.option[0] == '\0') {
      EXPECT_TRUE(Has(check.out, "\ncertificate: passive (exact")) << check.out;
    }
    accuracy.push_back(
        Compare(ReadNetwork(kExample), *ReadPoles(Path(dir + "/ring_slot_sim.pls"))).back());
  }
  EXPECT_LT(accuracy[0], accuracy[1]);
}

// The fit iterates the pole relocation by default and says so; its model is
// no less accurate than the library's single pass, which --single-pass
// gives unchanged (the same model as the library's Fit through the public
// header).
TEST_F(Cli, FitIteratesByDefaultAndSinglePassGivesTheLibrarysFit) {
  const Network data = ReadNetwork(kExample);
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
    worst.push_back(Compare(data, *model).back());
    // --single-pass: the same model up to the pole file's 15 digits.
    EXPECT_TRUE(std::string(c.options) != "--single-pass" ||
                ModelGap(*model, *library, 2, data.frequencies) < 1e-12);
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
}

// An n-port S model written as a pole file through the public interface:
// one real and one complex pole per element, apart in each, scaled by
// `scale`.
std::string DefinedPoleFile(const std::string& path, double scale, int n = 2) {
  Fitter f(cFitAPI::Create(nullptr));
  f->DefineModel(n, 1, nullptr, false);
  for (int e = 0; e < n * n; ++e) {
    const double poles[4] = {2e9, 0, 5e9 + 1e8 * e, -3e10};
    const double residues[4] = {0.3 * scale, 0, 0.1 + 0.01 * e, -0.2 * scale};
    EXPECT_EQ(f->SetElementModel(e / n, e % n, 2, 0.05 * (e + 1), 0, 0, poles, residues), 1);
  }
  EXPECT_EQ(f->WritePoles(path.c_str()), 1);
  return path;
}

// Each failure exits 1 with its message and writes nothing (an output that
// was there is kept); a convert step or response the library refuses, and
// an element outside the model, fail with the library's message.
TEST_F(Cli, FailuresExitOneWithTheLibraryMessage) {
  fs::copy_file(kExample, Path("@x_model.s2p"));
  std::ofstream(Path("@kept.s4p")) << "kept\n";
  std::ofstream(Path("@plain_file")) << "not a folder\n";
  std::ofstream(Path("@bad.pls")) << "1\nR0: 50\n1\n1e9 0 0.5\n";  // a pole line of three numbers
  DefinedPoleFile(Path("@defined.pls"), 1.0);
  ASSERT_EQ(Run("fit -o @z %zparam_spec_example.s1p").status, 0);
  EXPECT_TRUE(Has(Slurp(Path("@z/zparam_spec_example.cir")), "fitted 1-port Z model"));
  // check reads Touchstone files through the host's version 1 reader.
  for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
           {"fit @missing.s2p", "missing.s2p: no such file"},
           {"fit -o @o %reject_complex_reference.s2p", "Invalid touchstone syntax"},
           {"fit -o @o --netlist laplace %zparam_spec_example.s1p",
            "the laplace netlist needs S data"},
           {"netlist --form laplace -o @z.cir @z/zparam_spec_example.pls",
            "the laplace netlist needs an S model"},
           {"fit -o @plain_file/sub EXAMPLE", "cannot create the output directory"},
           {"fit --name x @x_model.s2p", "would overwrite the input"},
           {"check %v2_sixport_per_port_reference.ts", "We only support S-Y-Z parameter types"},
           {"info --as poles EXAMPLE", "ring_slot_sim.s2p: not a pole file"},
           {"sweep --list 1GHz @bad.pls", "bad.pls: Invalid pls file format"},
           {"sweep --list 1GHz -o /dev/full @defined.pls", "cannot write /dev/full"},
           {"response --step 0 -o @bad.txt @defined.pls", "InvalidTimeResponseParameters"},
           {"response --kind bit --width 0 -o @bad.txt @defined.pls", "Bit time zero"},
           {"response --element 3,1 -o @bad.txt @defined.pls", "outside the model's 2 ports"},
           {"convert %coupled_lines_diff_2xthru.s4p -o @kept.s4p --mixed 1,1,2,3",
            "Incorrect set of port numbers for Mixed/Standard mode conversion"},
           {"convert EXAMPLE -o @o.s2p --mixed 1,2,3,4",
            "This operation requires 4-port S-matrix only"},
           {"convert %coupled_lines_diff_2xthru.s4p -o @o.s4p --mixed 1,2,3,4 --to abcd", "abcd"},
           {"convert EXAMPLE -o @o.s2p --combine 1,2 --at 1", ""},
           {"convert EXAMPLE -o @o.s2p --combine 1", ""},
           {"convert EXAMPLE -o @o.s2p --terminate s,o", ""},
           {"convert EXAMPLE -o @o.s2p --to y --terminate k,s", ""}}) {
    const Result r = Run(line);
    EXPECT_TRUE(r.status == 1 && Has(r.err, "cfit: error: ") && Has(r.err, message)) << r.err;
  }
  EXPECT_EQ(Slurp(Path("@x_model.s2p")), Slurp(kExample));  // the input survived
  EXPECT_FALSE(fs::exists(Path("@missing.log")));           // nothing made for a missing input
  EXPECT_FALSE(fs::exists(Path("@bad.txt")));
  // Step values that are not valid are usage errors of convert.
  for (const char* steps :
       {"--to s", "-o @o.s2p --mixed 1,2,3", "-o @o.s2p --to q", "-o @o.s2p --renormalize 0",
        "-o @o.s2p --renormalize 50,50,50", "-o @o.s2p --terminate k", "-o @o.s2p --terminate k,x",
        "-o @o.s2p --reorder 1,1", "-o @o.s2p --combine 1,3", "-o @o.s2p --combine 1,2 --at -1",
        "-o @o.s2p --transfer 50"}) {
    const Result r = Run(std::string("convert EXAMPLE ") + steps);
    EXPECT_TRUE(r.status == 2 && Has(r.err, "Usage: cfit convert")) << steps << "\n" << r.err;
  }
  EXPECT_EQ(Slurp(Path("@kept.s4p")), "kept\n");
  EXPECT_FALSE(fs::exists(Path("@o.s2p")) || fs::exists(Path("@o.s4p")) ||
               fs::exists(Path("@o.log")));
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

// join writes what the library's joins give, of Touchstone files and of pole
// files (the network tests check the mode blocks of both).
TEST_F(Cli, JoinWritesTheLibrarysJoin) {
  DefinedPoleFile(Path("@dd.pls"), 1.0), DefinedPoleFile(Path("@cc.pls"), -0.5);
  ASSERT_EQ(Run("sweep --at-data EXAMPLE -o @cc.s2p @cc.pls").status, 0);
  Result r = Run("join EXAMPLE @cc.s2p -o @mixed.s4p");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "into a mixed-mode 4-port at ")) << r.out;
  const Network joined = ReadNetwork(
      kExample, [&](cFitAPI& f) { EXPECT_EQ(f.JoinModalTwoPorts(Path("@cc.s2p").c_str()), 1); });
  EXPECT_LE(Deviation(ReadNetwork(Path("@mixed.s4p")), joined), 1e-14);

  ASSERT_EQ(Run("join @dd.pls @cc.pls -o @mixed.pls").status, 0);
  Fitter got = ReadPoles(Path("@mixed.pls")), want = ReadPoles(Path("@dd.pls"));
  ASSERT_EQ(want->JoinModalTwoPortModels(Path("@cc.pls").c_str()), 1);
  EXPECT_LE(ModelGap(*got, *want, 4, {0.0, 1e9, 7e9, 4e10}), 1e-12);
}

// cascade writes the library's cascade (the network tests check it against
// closed forms and scikit-rf), the files in the order given, as Y
// parameters on the grid of both, in the format asked for; a 3-port is
// refused with the library's message.
TEST_F(Cli, CascadeWritesTheLibrarysCascade) {
  const std::string second = Path("%lowpass_filter_measured.s2p");
  const Result r = Run("cascade EXAMPLE " + second + " -o @c.s2p --format ma");
  ASSERT_EQ(r.status, 0) << r.err;
  // The program reads with the library's default symmetry tolerance.
  const Network cascade = ReadNetwork(
      kExample, [&](cFitAPI& f) { EXPECT_EQ(f.CascadeWithTouchstone(second.c_str()), 2); },
      cFitParams{}.symmetryTolerance);
  EXPECT_TRUE(Has(
      r.out, "2-port Y parameters at " + std::to_string(cascade.frequencies.size()) + " points"))
      << r.out;
  EXPECT_TRUE(Has(Slurp(Path("@c.s2p")), " Y  MA ")) << Slurp(Path("@c.s2p")).substr(0, 200);
  EXPECT_LE(Deviation(ReadNetwork(Path("@c.s2p")), cascade), 1e-12);
  const Result refused = Run("cascade EXAMPLE %ideal_tee_sim.s3p -o @tee.s3p");
  EXPECT_TRUE(refused.status == 1 && Has(refused.err, "Sampled data must be 2x2 or 4x4 size"))
      << refused.err;
}

// R, L, C in series between two 50 ohm ports (`series`), or in shunt to
// ground, as a Touchstone file of `points` points from 0.1 to 10 GHz, the
// transmissions off by `noise`.
std::complex<double> Rlc(double r, double l, double c, double f) {
  const double w = 2 * M_PI * f;
  return {r, w * l - 1.0 / (w * c)};
}
void WriteElement(const std::string& path, bool series, int points, double noise = 0.0) {
  std::ofstream out(path);
  out.precision(17);
  out << "# HZ S RI R 50\n";
  for (int k = 0; k < points; ++k) {
    const double f = 1e8 + k * 9.9e9 / (points - 1);
    const std::complex<double> z = Rlc(10.0, 1e-9, 1e-12, f);
    const std::complex<double> s11 = series ? z / (z + 100.0) : -25.0 / (z + 25.0);
    const std::complex<double> s21 = series ? 1.0 - s11 : 1.0 + s11;
    out << f;
    for (auto v : {s11, s21 + noise, s21 + noise, s11}) out << ' ' << v.real() << ' ' << v.imag();
    out << '\n';
  }
}

// The element report against the circuit: its shape, its resonance within
// the grid's interpolation error, its impedance rows; the written 1-port,
// idealised and R-L-C files read back against closed forms; the series fit.
TEST_F(Cli, ElementRlcAndSeriesElementFit) {
  const double f0 = 1.0 / (2 * M_PI * std::sqrt(1e-9 * 1e-12));
  WriteElement(Path("@series.s2p"), true, 100);
  WriteElement(Path("@shunt.s2p"), false, 100);
  for (const auto& [file, shape] : {std::pair{"@series.s2p", "series"}, {"@shunt.s2p", "shunt"}}) {
    const Result r = Run(std::string("element ") + file);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, std::string("\nelement:    ") + shape + " (")) << r.out;
    const auto resonance = Find(r.out, R"(\nresonance:  (\S+ \S+) \(the reactance rises)");
    EXPECT_NEAR(Hertz(resonance[1]), f0, 1e-4 * f0);
    const auto rows = FindAll(r.out, R"(\n +(\S+ \S+) +(\S+) +([-+]\S+) j)");
    ASSERT_EQ(rows.size(), 5u) << r.out;
    for (const auto& row : rows) {
      const std::complex<double> z = Rlc(10.0, 1e-9, 1e-12, Hertz(row[1]));
      EXPECT_LE(std::abs(std::complex<double>(std::stod(row[2]), std::stod(row[3])) - z),
                1e-4 * std::abs(z))
          << row[0];
    }
  }
  EXPECT_TRUE(Has(Run("element %lowpass_filter_measured.s2p").out,
                  "element:    neither series nor shunt\n"));

  // The extracted admittance and the idealised shunt are the library's (of
  // the data symmetrised, as the program reads them).
  const auto agrees = [&](const std::string& line, const std::string& in, const std::string& out,
                          const std::function<int(cFitAPI&)>& step) {
    ASSERT_EQ(Run(line).status, 0) << line;
    const auto library = [&](cFitAPI& f) { EXPECT_EQ(f.Symmetrize() * step(f), 1); };
    EXPECT_LE(Deviation(ReadNetwork(Path(out)), ReadNetwork(Path(in), library)), 1e-12) << line;
  };
  agrees("element --extract y -o @y.s1p @series.s2p", "@series.s2p", "@y.s1p",
         [](cFitAPI& f) { return f.ExtractSeriesElement(2); });
  WriteElement(Path("@noisy.s2p"), false, 100, 0.002);
  agrees("element --idealize -o @ideal.s2p @noisy.s2p", "@noisy.s2p", "@ideal.s2p",
         [](cFitAPI& f) { return f.IdealizeShuntElement(); });

  // Component values with suffixes (1m is a millihenry) give the library's
  // models (which the network tests check against the closed forms).
  struct Model {
    const char* line;
    double r, l, c;
    int type;
  };
  for (const Model& m : {Model{"rlc 10 1n 100p --type z -o @z.pls", 10, 1e-9, 1e-10, 3},
                         Model{"rlc 1k 1m 1u --type y -o @y.pls", 1e3, 1e-3, 1e-6, 2},
                         Model{"rlc 4.7 2.2n 470f -o @s.pls", 4.7, 2.2e-9, 470e-15, 1}}) {
    const Result r = Run(m.line);
    ASSERT_EQ(r.status, 0) << m.line << r.err;
    Fitter want(cFitAPI::Create(nullptr));
    ASSERT_EQ(want->BuildRLCModel(m.r, m.l, m.c, m.type), 1);
    const double fr = 1.0 / (2 * M_PI * std::sqrt(m.l * m.c));
    const std::string file = Path(std::string("@") + "zys"[3 - m.type] + ".pls");
    EXPECT_LT(ModelGap(*ReadPoles(file), *want, 1, {fr / 100, fr, fr * 100}), 1e-9) << m.line;
  }
  // The Z model of 1 pF has a residue beyond what a pole file holds.
  const Result small = Run("rlc 10 1n 1p --type z -o @x.pls");
  EXPECT_TRUE(small.status == 1 && Has(small.err, "above the 1e20 a pole file holds")) << small.err;
  EXPECT_FALSE(fs::exists(Path("@x.pls")) || fs::exists(Path("@x.s1p")));

  const Result fit = Run("fit --series-element -o @f @series.s2p");
  ASSERT_EQ(fit.status, 0) << fit.err;
  EXPECT_EQ(FindAll(fit.out, R"(\n  S\d\d +\d+  0 s )").size(), 3u) << fit.out;
  // The series fit's model keeps the series relations exactly (their
  // passivity and the relations everywhere are the fit tests' to check).
  Fitter element = ReadPoles(Path("@f/series.pls"));
  const Values h = Evaluate(*element, f0);
  EXPECT_LE(std::abs(h[0] + h[2] - 1.0) + std::abs(h[0] - h[3]) + std::abs(h[1] - h[2]), 1e-12);
  EXPECT_LT(Compare(ReadNetwork(Path("@series.s2p")), *element).back(), 1e-3);
}

// What the commands make of a fitted pole file: the netlist forms (of the
// fit, the equivalent circuit and the LAPLACE form beside it; of the pole
// file by name); info; sweeps on each grid evaluating as the model; the
// responses, one file per element or the one asked for, the times given
// with suffixes as the library's record, the step response settling at the
// model's DC value.
TEST_F(Cli, PoleFileNetlistInfoSweepAndResponse) {
  ASSERT_EQ(Run("fit -o @ --netlist both EXAMPLE").status, 0);
  EXPECT_TRUE(Has(Slurp(Path("@ring_slot_sim.cir")), "\n.subckt ring_slot_sim p_1 p_2 ref\n"));
  const std::string laplace = Slurp(Path("@ring_slot_sim_laplace.cir"));
  EXPECT_TRUE(Has(laplace, "\n.subckt ring_slot_sim_laplace x_1 x_2 ref\n") &&
              Has(laplace, " LAPLACE "));
  Result r = Run("netlist --name 2-pkg -o @n/eq.cir @ring_slot_sim.pls");
  EXPECT_TRUE(r.status == 0 && Has(r.out, Path("@n/eq.cir"))) << r.err;
  EXPECT_TRUE(Has(Slurp(Path("@n/eq.cir")), "\n.subckt x2_pkg p_1 p_2 ref\n"));
  ASSERT_EQ(Run("netlist --form laplace -o @n/lp.cir @ring_slot_sim.pls").status, 0);
  EXPECT_TRUE(Has(Slurp(Path("@n/lp.cir")), "\n.subckt lp x_1 x_2 ref\n"));

  r = Run("info @ring_slot_sim.pls");
  EXPECT_TRUE(Has(r.out, "kind:        pole file") && Has(r.out, "symmetric:   yes\n")) << r.out;
  Fitter model = ReadPoles(Path("@ring_slot_sim.pls"));
  const auto sweep = [&](const std::string& grid, const std::string& output) {
    r = Run("sweep " + grid + " -o " + output + " @ring_slot_sim.pls");
    EXPECT_TRUE(r.status == 0 && Has(r.out, Path(output))) << r.err << r.out;
    const Network t = ReadNetwork(Path(output));
    EXPECT_LT(Compare(t, *model).back(), 1e-12);
    return t.frequencies;
  };
  EXPECT_EQ(sweep("--linear 75GHz,110GHz,5GHz", "@lin.s2p"),
            (std::vector<double>{75e9, 80e9, 85e9, 90e9, 95e9, 100e9, 105e9, 110e9}));
  EXPECT_EQ(sweep("--list 1e9,76.5GHz,1THz", "@list.s2p"),
            (std::vector<double>{1e9, 76.5e9, 1e12}));
  EXPECT_EQ(sweep("--at-data EXAMPLE --format ma", "@at.s2p"), ReadNetwork(kExample).frequencies);
  const auto f = sweep("--adaptive 150GHz --zero-hz", "@a.s2p");
  EXPECT_TRUE(f.size() > 10 && f.front() == 0.0 && f.back() >= 150e9 &&
              std::is_sorted(f.begin(), f.end()));
  EXPECT_TRUE(fs::exists(Path("@a.log")));

  auto rows = [&](const std::string& file) {
    std::vector<std::pair<double, double>> r;
    std::ifstream in(Path(file));
    for (double t, v; in >> t >> v;) r.push_back({t, v});
    return r;
  };
  r = Run("response --end 2n --step 5ps -o @all.txt @ring_slot_sim.pls");
  ASSERT_EQ(r.status, 0) << r.err;
  // The grid's times are accumulated by repeated addition: the sum of 400
  // steps of 5 ps lies just above 2 ns.
  std::size_t points = 0;
  for (double t = 0; t <= 2e-9; t += 5e-12) ++points;
  EXPECT_TRUE(Has(r.out, "step response of ring_slot_sim.pls from 0 s to 2 ns") &&
              Has(r.out, "(" + std::to_string(points) + " points)"))
      << r.out;
  for (int e = 0; e < 4; ++e) {
    const std::string name =
        "@all_" + std::to_string(e / 2 + 1) + "_" + std::to_string(e % 2 + 1) + ".txt";
    const auto values = rows(name);
    ASSERT_EQ(values.size(), points) << name;
    double dc[2];
    ASSERT_EQ(model->EvaluateModelElement(e / 2, e % 2, 0.0, dc), 1);
    EXPECT_NEAR(values.back().second, dc[0], 1e-6) << name;
  }
  r =
      Run("response --element 2,1 --kind trapezoid --rise 20p --width 0.1ns --fall 30ps "
          "--amplitude 2 --start 10p --end 200ps --step 1p -o @tdt.txt @ring_slot_sim.pls");
  ASSERT_EQ(r.status, 0) << r.err;
  TimeResponseParameters p;
  p.kind = 3, p.riseTime = 20e-12, p.width = 1e-10, p.fallTime = 3e-11, p.amplitude = 2;
  const auto values = rows("@tdt.txt");
  ASSERT_EQ(values.size(), 191u);
  for (const auto& [t, v] : values) {
    double expected = 0, time = 0, weight = 0;
    ASSERT_EQ(model->GetTimeResponse(p, t, &expected, &time, &weight, 1, 0), 1);
    EXPECT_NEAR(v, expected, 1e-10 * (1 + std::abs(expected))) << t;
  }
  // Each line holds the time, accumulated by repeated addition, and the value
  // to 11 digits.
  double t = 10e-12, value = 0, time = 0, weight = 0;
  for (int k = 0; k < 100; ++k) t += 1e-12;
  ASSERT_EQ(model->GetTimeResponse(p, t, &value, &time, &weight, 1, 0), 1);
  char line[64];
  std::snprintf(line, sizeof line, "\n%16.10le %16.10le\n", t, value);
  EXPECT_TRUE(Has(Slurp(Path("@tdt.txt")), line)) << line;
}

// convert applies its steps in command-line order, repeats included, and
// writes what the library's operations give in that order (the network tests
// check those against closed forms and scikit-rf), port numbers from 1 and
// termination letters turned into the library's codes, in the input's number
// format unless --format names one.
TEST_F(Cli, ConvertWritesWhatTheLibrarysStepsGive) {
  const struct {
    std::string file, steps, output;
    std::function<void(cFitAPI&)> library;
    std::string format;
  } cases[] = {
      // clang-format off
      {"%coupled_lines_diff_2xthru.s4p", "--mixed 1,3,2,4", "@m.s4p",
       [](cFitAPI& f) { f.ConvertToMixedMode(1, 3, 2, 4); }, " RI "},
      {"%fourport_measured_75ohm.s4p", "--mixed 1,2,3,4 --standard 2,1,4,3 --to y", "@y.s4p",
       [](cFitAPI& f) {
         f.ConvertToMixedMode(1, 2, 3, 4), f.ConvertToStandardMode(2, 1, 4, 3);
         f.ConvertDataType(2);
       }, " DB "},
      {"%fourport_measured_75ohm.s4p",
       "--standard 2,1,4,3 --mixed 1,2,3,4 --mixed 1,2,3,4 --format ri", "@twice.s4p",
       [](cFitAPI& f) {
         f.ConvertToStandardMode(2, 1, 4, 3), f.ConvertToMixedMode(1, 2, 3, 4);
         f.ConvertToMixedMode(1, 2, 3, 4);
       }, " RI "},
      {"%fourport_inline_comments_spec_example.s4p", "--mixed 4,2,3,1 --standard 4,2,3,1",
       "@back.s4p", nullptr, " MA "},
      {"EXAMPLE", "--to z --format ma", "@z.s2p", [](cFitAPI& f) { f.ConvertDataType(3); }, " MA "},
      {"EXAMPLE", "--renormalize 30,40 --renormalize 75", "@r.s2p", [](cFitAPI& f) {
         const double z[2] = {30, 40};
         f.ChangeReferenceImpedances(z), f.SetReferenceImpedance(75);
       }, " RI "},
      {"EXAMPLE", "--reorder 2,1", "@swap.s2p",
       [](cFitAPI& f) { const int perm[2] = {1, 0}; f.ReorderPorts(perm); }, " RI "},
      {"EXAMPLE", "--terminate k,m", "@end.s1p",
       [](cFitAPI& f) { const int codes[2] = {3, 2}; f.TerminatePorts(codes); }, " RI "},
      {"EXAMPLE", "--combine 2,1 --at 0", "@joined.s1p",
       [](cFitAPI& f) { const unsigned char join[2] = {1, 1}; f.CombinePorts(join, 0); }, " RI "},
      {"%coupled_lines_diff_2xthru.s4p", "--transfer 100,0.01", "@h.s1p",
       [](cFitAPI& f) { f.VoltageTransferFunction(100, 0.01, 1324); }, " RI "},
      // clang-format on
  };
  for (const auto& c : cases) {
    const Result r = Run("convert " + c.file + " -o " + c.output + " " + c.steps);
    ASSERT_EQ(r.status, 0) << c.steps << "\n" << r.err;
    EXPECT_TRUE(Has(r.out, "wrote:") && Has(r.out, Path(c.output))) << r.out;
    EXPECT_TRUE(Has(Slurp(Path(c.output)), c.format)) << c.steps;
    EXPECT_LE(Deviation(ReadNetwork(Path(c.output)), ReadNetwork(Path(c.file), c.library)), 1e-12)
        << c.steps;
  }
}

// A pole file's model goes through the same steps and is written as a pole
// file that evaluates like the model converted in the library.
TEST_F(Cli, ConvertOfAPoleFileWritesTheConvertedModel) {
  Fitter model = ReadPoles(DefinedPoleFile(Path("@m.pls"), 1.0, 4));
  const Result r = Run("convert @m.pls -o @mm.pls --mixed 1,3,2,4");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(model->ConvertToMixedMode(1, 3, 2, 4), 1);
  EXPECT_LT(ModelGap(*ReadPoles(Path("@mm.pls")), *model, 4, {0.0, 1e8, 1.5e9, 8e9}), 1e-12);
}

}  // namespace
