#include "RatioTable.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <vector>

namespace benchsupport {

namespace {

struct Figures {
  std::vector<double> Times;  // per iteration, of each repetition
  double Median{-1};          // the median aggregate, when the run had repetitions
  double Minimum{-1};         // the fastest repetition, when kept
  double Bytes{-1};
  double Batch{1};            // operations timed together in one iteration
  std::int64_t Family{0};     // order of registration
};

double MedianOf(std::vector<double> V) {
  if (V.empty()) return -1;
  std::sort(V.begin(), V.end());
  const std::size_t N = V.size();
  return N % 2 ? V[N / 2] : (V[N / 2 - 1] + V[N / 2]) / 2;
}

// The console output as usual; the figures are kept for the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, Figures> Runs;  // by registered name
  std::vector<std::string> Order;

  void ReportRuns(const std::vector<Run>& Reports) override {
    ConsoleReporter::ReportRuns(Reports);
    for (const Run& R : Reports) {
      if (R.error_occurred) continue;
      const std::string& Name = R.run_name.function_name;
      if (!Runs.count(Name)) Order.push_back(Name);
      Figures& F = Runs[Name];
      F.Family = R.family_index;
      const double Seconds = R.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(R.time_unit);
      const bool Aggregate = R.run_type == Run::RT_Aggregate;
      if (Aggregate && R.aggregate_name == "median") F.Median = Seconds;
      if (Aggregate && R.aggregate_name == "min") F.Minimum = Seconds;
      if (!Aggregate) F.Times.push_back(Seconds);
      if (auto It = R.counters.find("bytes"); It != R.counters.end() && (!Aggregate || R.aggregate_name == "median"))
        F.Bytes = It->second.value;
      if (auto It = R.counters.find("batch"); It != R.counters.end() && It->second.value >= 1)
        F.Batch = It->second.value;
    }
  }
};

}  // namespace

int RunWithRatioTable(const std::string& Ours, const std::string& Peer) {
  RatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  // Cases in the order they were registered, grouped by operation.
  std::stable_sort(Reporter.Order.begin(), Reporter.Order.end(), [&](const std::string& A, const std::string& B) {
    return Reporter.Runs[A].Family < Reporter.Runs[B].Family;
  });
  std::vector<std::string> Operations;
  std::map<std::string, std::vector<std::string>> Cases;
  for (const std::string& Name : Reporter.Order) {
    const auto A = Name.find('/');
    const auto B = A == std::string::npos ? A : Name.find('/', A + 1);
    if (B == std::string::npos) continue;
    const std::string Op = Name.substr(0, A), Impl = Name.substr(A + 1, B - A - 1), Case = Name.substr(B + 1);
    if (Impl != Ours) continue;
    if (!Cases.count(Op)) Operations.push_back(Op);
    Cases[Op].push_back(Case);
  }
  auto TimeOf = [&](const std::string& Name) {
    auto It = Reporter.Runs.find(Name);
    if (It == Reporter.Runs.end()) return -1.0;
    const double T = It->second.Median >= 0 ? It->second.Median : MedianOf(It->second.Times);
    return T < 0 ? T : T / It->second.Batch;
  };
  auto BytesOf = [&](const std::string& Name) {
    auto It = Reporter.Runs.find(Name);
    return It == Reporter.Runs.end() ? -1.0 : It->second.Bytes;
  };
  auto MinimumOf = [&](const std::string& Name) {
    auto It = Reporter.Runs.find(Name);
    return It == Reporter.Runs.end() || It->second.Minimum < 0 ? -1.0 : It->second.Minimum / It->second.Batch;
  };
  std::ostringstream Out;
  Out << std::fixed;
  for (const std::string& Op : Operations) {
    Out << "\n" << Op << ": median time per operation, " << Peer << " / " << Ours << " (above 1: " << Ours
        << " is faster)\n";
    Out << std::left << std::setw(34) << "case" << std::right << std::setw(12) << (Ours + " us") << std::setw(12)
        << (Peer + " us") << std::setw(9) << "ratio" << std::setw(11) << "min ratio" << std::setw(14)
        << (Ours + " bytes") << std::setw(14) << (Peer + " bytes") << "\n";
    // A figure that is missing (not run, or failed) shows as "-".
    auto Put = [&](double Value, int Width, int Precision) {
      if (Value < 0)
        Out << std::setw(Width) << "-";
      else
        Out << std::setw(Width) << std::setprecision(Precision) << Value;
    };
    for (const std::string& Case : Cases[Op]) {
      const double T = TimeOf(Op + "/" + Ours + "/" + Case), P = TimeOf(Op + "/" + Peer + "/" + Case);
      Out << std::left << std::setw(34) << Case << std::right;
      Put(T < 0 ? T : T * 1e6, 12, 1);
      Put(P < 0 ? P : P * 1e6, 12, 1);
      Put(T > 0 && P > 0 ? P / T : -1, 9, 2);
      const double TM = MinimumOf(Op + "/" + Ours + "/" + Case), PM = MinimumOf(Op + "/" + Peer + "/" + Case);
      Put(TM > 0 && PM > 0 ? PM / TM : -1, 11, 2);
      const double OB = BytesOf(Op + "/" + Ours + "/" + Case), PB = BytesOf(Op + "/" + Peer + "/" + Case);
      if (OB >= 0 || PB >= 0) {
        Put(OB, 14, 0);
        Put(PB, 14, 0);
      }
      Out << "\n";
    }
  }
  std::cout << Out.str() << std::flush;
  benchmark::Shutdown();
  return 0;
}

}  // namespace benchsupport
