// Faults of the file layer that reached users: writers that reported files a
// full device never took, pole files the reader refuses, netlist names a
// simulator cannot parse; and the version 2.0 reader the cfit program uses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "api/file_operations.h"
#include "io/pole_file.h"
#include "io/subcircuit_writer.h"
#include "io/touchstone_reader.h"
#include "model_test_support.h"
#include "touchstone_test_support.h"

namespace cfit {
namespace {

using testing::LogCapture;
using testing::Message;
using testing::ScratchDir;

std::string FileMessage(const std::string& file, ErrorCode code) {
  return file + ":\n" + FitErrorText(static_cast<int>(code));
}

TEST(WriteFaults, EveryWriterFailsWhenTheDeviceIsFull) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto fitter = testing::FittedRealFile("ring_slot_sim.s2p");
  struct Case {
    const char* what;
    int (*write)(cCfit&);
    std::string message;
  };
  const Case cases[] = {
      {"touchstone", [](cCfit& f) { return f.WriteTouchstone("/dev/full", 1); }, FitErrorText(6)},
      {"data table", [](cCfit& f) { return f.WriteDataTable("/dev/full", -1, -1, true, false, 0); },
       FitErrorText(6)},
      {"pole file", [](cCfit& f) { return f.WritePoles("/dev/full"); },
       FileMessage("/dev/full", ErrorCode::kCannotWriteFit)},
      {"netlist", [](cCfit& f) { return f.WriteSubcircuit("/dev/full"); },
       FileMessage("/dev/full", ErrorCode::kCannotWriteCircuit)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fitter->state().session.error.Clear();
    LogCapture quiet;
    EXPECT_EQ(c.write(*fitter), 0);
    EXPECT_EQ(Message(*fitter), c.message);
  }
}

TEST(WriteFaults, PoleFileOverThePortLimitIsRefusedWhenWritten) {
  ScratchDir dir;
  for (int n : {kMaxPoleFilePorts, kMaxPoleFilePorts + 1}) {
    SCOPED_TRACE(n);
    cCfit fitter;
    testing::MakeModel(fitter, n, kS, std::vector<double>(static_cast<std::size_t>(n), 50.0));
    testing::AddTerm(fitter, 0, 0, Complex(1e9, 0), Complex(-0.5, 0));
    const std::string path = dir.Path("big" + std::to_string(n) + ".pls");
    LogCapture quiet;
    const int written = fitter.WritePoles(path.c_str());
    if (n <= kMaxPoleFilePorts) {
      EXPECT_EQ(written, 1);
      EXPECT_EQ(fitter.GetPolesPortCount(path.c_str()), n);
    } else {
      EXPECT_EQ(written, 0);
      EXPECT_EQ(Message(fitter), FileMessage(path, ErrorCode::kCannotWriteFit));
      EXPECT_FALSE(std::filesystem::exists(path));
    }
  }
}

TEST(WriteFaults, SubcircuitNamesMadeOfFileNamesAreValidNetlistNames) {
  const std::pair<const char*, const char*> names[] = {
      {"models/line.rev2.sp", "line"},  // valid names stay as they are
      {"C:\\nets\\Pkg_7.cir", "Pkg_7"},
      {"my board.cir", "my_board"},
      {"a-b+c(d).cir", "a_b_c_d_"},
      {"3port.cir", "x3port"},
      {"dir/.cir", "x"},
  };
  for (const auto& [file, name] : names) EXPECT_EQ(NetlistName(file), name) << file;

  ScratchDir dir;
  auto fitter = testing::FittedRealFile("ring_slot_sim.s2p");
  const std::string path = dir.Path("my board.cir");
  LogCapture quiet;
  ASSERT_EQ(fitter->WriteSubcircuit(path.c_str()), 1) << Message(*fitter);
  EXPECT_NE(testing::ReadFileBytes(path).find("\n.subckt my_board x_1 x_2 ref\n"),
            std::string::npos);
}

// A failed Touchstone read keeps what the format gives a failed read (the
// detected port count, the option line's type, no element table) and
// nothing else: the header comment of the failed file is not taken.
TEST(ReadTransaction, FailedTouchstoneReadKeepsOnlyWhatTheFormatGivesIt) {
  ScratchDir dir;
  cCfit fitter;
  cFitParams params;
  ASSERT_TRUE(fitter.Init(&params));
  const std::string path =
      dir.Write("bad.s1p", "! a comment\n# GHZ Y RI R 50\n1 0.5 0.5 7\n2 0.5 0.5\n");
  LogCapture quiet;
  EXPECT_EQ(fitter.ReadTouchstone(path.c_str()), 0);
  EXPECT_EQ(Message(fitter), FileMessage(path, ErrorCode::kTouchstoneSyntax));
  EXPECT_EQ(fitter.GetPortCount(), 1);
  EXPECT_EQ(fitter.GetDataType(), kY);
  EXPECT_EQ(fitter.state().network.elements, nullptr);
  EXPECT_EQ(fitter.GetFileComment(), nullptr);
  EXPECT_FALSE(fitter.HasSampledData());
}

// Version 2.0 files, read by the engine reader with version 2 allowed.
struct V2Case {
  const char* what;
  std::string text;
  int ports;  // 0: the read fails with `error`
  ErrorCode error;
  double s12re;   // real part of element (0, 1) of the first point
  double s21re;   // real part of element (1, 0)
  double z0last;  // reference impedance of the last port
};

Result<TouchstoneFile> ReadV2(const ScratchDir& dir, const std::string& text,
                              TouchstoneDialect dialect = TouchstoneDialect::kVersion2Allowed) {
  const std::string path = dir.Write("v2.ts", text);
  std::ostringstream log;
  return ReadTouchstoneFile(path, {dialect}, RunContext(log, nullptr, nullptr));
}

TEST(TouchstoneVersion2, KeywordsLayoutsAndFaults) {
  const std::string twoPort =
      "! comment\n[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 2\n"
      "[Two-Port Data Order] ";
  const std::string data2 = "\n[Number of Frequencies] 1\n[Network Data]\n1 11 0 2 0 3 0 22 0\n";
  const std::string threePort =
      "[VERSION] 2.0\n# MHz Z MA R 50\n[number of ports]   3\n[Number of Frequencies] 2\n"
      "[Reference] 10 20 ! the third on the next line\n 30\n[Matrix Format] ";
  const std::string lower =
      "\n[Network Data]\n1 1 0\n2 0 3 0 ! row 2\n4 0 5 0 6 0\n"
      "2 1 0 2 0 3 0 4 0 5 0 6 0\n[Noise Data]\n1 2 3 4 5\n[End]\n";
  const std::string upper =
      "\n[Network Data]\n1 1 0 2 0 4 0\n3 0 5 0\n6 0\n"
      "2 1 0 2 0 4 0 3 0 5 0 6 0\n[End]\n";
  const V2Case cases[] = {
      {"12_21 order", twoPort + "12_21" + data2, 2, {}, 2, 3, 50},
      {"21_12 order, the version 1 order", twoPort + "21_12" + data2, 2, {}, 3, 2, 50},
      {"lower triangle, reference over two lines", threePort + "Lower" + lower, 3, {}, 2, 2, 30},
      {"upper triangle", threePort + "upper" + upper, 3, {}, 2, 2, 30},
      {"more numbers than the frequencies need", twoPort + "12_21" + data2 + "2 1 0\n", 0,
       ErrorCode::kTouchstoneSyntax, 0, 0, 0},
      {"no option line",
       "[Version] 2.0\n[Number of Ports] 1\n[Number of Frequencies] 1\n"
       "[Network Data]\n1 2 3\n",
       0, ErrorCode::kUnsupportedParameters, 0, 0, 0},
      {"mixed-mode order",
       "[Version] 2.0\n# Hz S RI\n[Number of Ports] 1\n"
       "[Mixed-Mode Order] D1,1\n[Number of Frequencies] 1\n"
       "[Network Data]\n1 2 3\n",
       0, ErrorCode::kTouchstoneSyntax, 0, 0, 0},
      {"a word that is no number", twoPort + "12_21" + data2 + "x\n", 0,
       ErrorCode::kTouchstoneSyntax, 0, 0, 0},
  };
  ScratchDir dir;
  for (const V2Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result<TouchstoneFile> read = ReadV2(dir, c.text);
    if (c.ports == 0) {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.failure().code, c.error);
      continue;
    }
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->version, 2);
    EXPECT_EQ(read->portCount, c.ports);
    ASSERT_FALSE(read->points.empty());
    const PortMatrix& first = read->points[0];
    EXPECT_EQ(first.At(0, 1).re, c.s12re);
    EXPECT_EQ(first.At(1, 0).re, c.s21re);
    EXPECT_EQ(read->impedances.back(), c.z0last);
    if (c.ports == 3) {
      // MA in MHz: 6 at 0 degrees on the diagonal's last place, 2 points.
      EXPECT_EQ(read->dataType, kZ);
      EXPECT_EQ(read->points.size(), 2u);
      EXPECT_EQ(first.frequency(), 1e6);
      EXPECT_EQ(first.At(2, 2).re, 6);
      EXPECT_EQ(first.At(2, 1).re, 5);
      EXPECT_EQ(first.At(1, 2).re, 5);
      EXPECT_EQ(read->impedances, (std::vector<double>{10, 20, 30}));
    } else {
      EXPECT_EQ(first.At(1, 1).re, 22);
    }
    // The host's reader keeps reading version 1 only.
    EXPECT_FALSE(ReadV2(dir, c.text, TouchstoneDialect::kVersion1).ok());
  }
}

TEST(TouchstoneVersion2, ByteOrderMarkIsSkippedOnlyWithVersion2Allowed) {
  ScratchDir dir;
  const std::string text = "\xEF\xBB\xBF! caf\xC3\xA9\n# GHz S RI\n1 0.5 0\n";
  const Result<TouchstoneFile> read = ReadV2(dir, text);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->version, 1);
  EXPECT_EQ(read->comment, " caf\xC3\xA9\n");
  EXPECT_EQ(read->points[0].At(0, 0).re, 0.5);
  EXPECT_EQ(read.value().points[0].frequency(), 1e9);
  EXPECT_FALSE(ReadV2(dir, text, TouchstoneDialect::kVersion1).ok());
}

// The cfit program's entry reads the real version 2 files into a fitter made
// by the factory, installed as a host read installs it.
TEST(TouchstoneVersion2, EngineEntryInstallsIntoAFactoryFitter) {
  cFitParams params;
  params.symmetryTolerance = 0.0;
  cFitAPI* fitter = cFitAPI::Create(&params);
  ASSERT_NE(fitter, nullptr);
  LogCapture log;
  const std::string path = testing::RealFile("v2_sixport_per_port_reference.ts").string();
  EXPECT_EQ(ReadAnyTouchstone(*fitter, path.c_str()), 6);
  EXPECT_EQ(fitter->GetDataType(), kS);
  const double* z0 = fitter->GetReferenceImpedances();
  ASSERT_NE(z0, nullptr);
  EXPECT_EQ(z0[2], 0.01);
  EXPECT_NE(log.text().find("\n17 data points were read from touchstone file\n"),
            std::string::npos);
  delete fitter;
}

}  // namespace
}  // namespace cfit
