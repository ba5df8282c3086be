#include "BenchCorpus.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>

namespace benchcorpus {

namespace fs = std::filesystem;

namespace {

constexpr const char* kImageMagick = "/usr/bin/convert";
constexpr const char* kCompleteStamp = "complete";

// Runs the script into a folder of its own and moves that into place, so that two benchmark
// programs started together never see a half-made corpus.
bool MakeCorpus(const fs::path& Dir) {
  const fs::path Script = KELV_BENCH_CORPUS_SCRIPT;
  if (!fs::exists(Script)) {
    std::cerr << "bench corpus: no script " << Script << "; the corpus is left out\n";
    return false;
  }
  if (access(kImageMagick, X_OK) != 0) {
    std::cerr << "bench corpus: no ImageMagick (" << kImageMagick << "); the corpus is left out\n";
    return false;
  }
  const fs::path Work = Dir.string() + ".making-" + std::to_string(getpid());
  std::error_code Ec;
  fs::remove_all(Work, Ec);
  fs::create_directories(Work);
  std::cerr << "bench corpus: making it in " << Dir << " (about a minute, once)\n";
  const std::string Command = "IM_CONVERT=" + std::string(kImageMagick) + " bash '" + Script.string() + "' '" +
                              Work.string() + "' > '" + (Work / "make.log").string() + "' 2>&1";
  if (std::system(Command.c_str()) != 0) {
    std::cerr << "bench corpus: the script failed (see " << (Work / "make.log") << ")\n";
    return false;
  }
  fs::remove_all(Work / "src", Ec);  // the true-colour masters are not needed any more
  std::ofstream(Work / kCompleteStamp) << "made by " << Script << "\n";
  fs::rename(Work, Dir, Ec);
  if (Ec) fs::remove_all(Work, Ec);  // another program was quicker
  return fs::exists(Dir / kCompleteStamp);
}

Bytes ReadFile(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

struct MemoryIn {
  const Bytes* Data;
  std::size_t At;
};

int ReadMemory(GifFileType* Gif, GifByteType* Out, int N) {
  auto* In = static_cast<MemoryIn*>(Gif->UserData);
  const std::size_t K = std::min<std::size_t>(static_cast<std::size_t>(N), In->Data->size() - In->At);
  std::memcpy(Out, In->Data->data() + In->At, K);
  In->At += K;
  return static_cast<int>(K);
}

int WriteMemory(GifFileType* Gif, const GifByteType* Data, int N) {
  auto* Out = static_cast<Bytes*>(Gif->UserData);
  Out->insert(Out->end(), Data, Data + N);
  return N;
}

}  // namespace

const std::vector<File>& GifCorpus() {
  static const std::vector<File> Files = [] {
    std::vector<File> Result;
    const fs::path Dir = KELV_BENCH_CORPUS_DIR;
    if (!fs::exists(Dir / kCompleteStamp) && !MakeCorpus(Dir)) return Result;
    for (const auto& Entry : fs::directory_iterator(Dir)) {
      if (Entry.path().extension() != ".gif") continue;
      File F{Entry.path().filename().string(), ReadFile(Entry.path())};
      GifFileType* Gif = GiflibSlurp(F.Data);
      if (!Gif) {
        std::cerr << "bench corpus: giflib cannot read " << F.Name << "; left out\n";
        continue;
      }
      F.Pixels = GiflibPixels(Gif);
      CloseGiflib(Gif);
      Result.push_back(std::move(F));
    }
    std::sort(Result.begin(), Result.end(), [](const File& A, const File& B) { return A.Name < B.Name; });
    return Result;
  }();
  return Files;
}

GifFileType* GiflibSlurp(const Bytes& Data) {
  MemoryIn In{&Data, 0};
  int Error = 0;
  GifFileType* Gif = DGifOpen(&In, ReadMemory, &Error);
  if (!Gif) return nullptr;
  if (DGifSlurp(Gif) != GIF_OK) {
    DGifCloseFile(Gif, &Error);
    return nullptr;
  }
  Gif->UserData = nullptr;  // the reader's state ends here
  return Gif;
}

void CloseGiflib(GifFileType* Gif) {
  int Error = 0;
  if (Gif) DGifCloseFile(Gif, &Error);
}

std::int64_t GiflibPixels(const GifFileType* Gif) {
  std::int64_t Pixels = 0;
  for (int i = 0; i < Gif->ImageCount; ++i)
    Pixels += static_cast<std::int64_t>(Gif->SavedImages[i].ImageDesc.Width) * Gif->SavedImages[i].ImageDesc.Height;
  return Pixels;
}

void PrepareGiflibWriter(GiflibWriter& Writer, const GifFileType* Source) {
  Writer.Out.clear();
  int Error = 0;
  GifFileType* Gif = EGifOpen(&Writer.Out, WriteMemory, &Error);
  Gif->SWidth = Source->SWidth;
  Gif->SHeight = Source->SHeight;
  Gif->SColorResolution = Source->SColorResolution;
  Gif->SBackGroundColor = Source->SBackGroundColor;
  Gif->AspectByte = Source->AspectByte;
  if (Source->SColorMap) Gif->SColorMap = GifMakeMapObject(Source->SColorMap->ColorCount, Source->SColorMap->Colors);
  for (int i = 0; i < Source->ImageCount; ++i) GifMakeSavedImage(Gif, &Source->SavedImages[i]);
  Writer.Gif = Gif;
}

void SpewGiflibWriter(GiflibWriter& Writer) {
  if (Writer.Gif) EGifSpew(Writer.Gif);
  Writer.Gif = nullptr;
}

namespace {

struct Figures {
  std::vector<double> Times;  // per iteration, of each repetition
  double Median{-1};          // the median aggregate, when the run had repetitions
  double Bytes{-1};
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
      const double Seconds = R.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(R.time_unit);
      if (R.run_type == Run::RT_Aggregate) {
        if (R.aggregate_name == "median") F.Median = Seconds;
      } else {
        F.Times.push_back(Seconds);
      }
      if (auto It = R.counters.find("bytes"); It != R.counters.end()) F.Bytes = It->second.value;
    }
  }
};

}  // namespace

int RunWithRatioTable(const std::string& Ours, const std::string& Peer) {
  RatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  // Cases in the order they ran, grouped by operation.
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
    return It->second.Median >= 0 ? It->second.Median : MedianOf(It->second.Times);
  };
  auto BytesOf = [&](const std::string& Name) {
    auto It = Reporter.Runs.find(Name);
    return It == Reporter.Runs.end() ? -1.0 : It->second.Bytes;
  };
  std::ostringstream Out;
  Out << std::fixed;
  for (const std::string& Op : Operations) {
    Out << "\n" << Op << ": median time per iteration, " << Peer << " / " << Ours << " (above 1: " << Ours
        << " is faster)\n";
    Out << std::left << std::setw(34) << "case" << std::right << std::setw(12) << (Ours + " ms") << std::setw(12)
        << (Peer + " ms") << std::setw(9) << "ratio" << std::setw(14) << (Ours + " bytes") << std::setw(14)
        << (Peer + " bytes") << "\n";
    for (const std::string& Case : Cases[Op]) {
      const double T = TimeOf(Op + "/" + Ours + "/" + Case), P = TimeOf(Op + "/" + Peer + "/" + Case);
      Out << std::left << std::setw(34) << Case << std::right << std::setprecision(3) << std::setw(12) << T * 1e3
          << std::setw(12) << P * 1e3 << std::setprecision(2) << std::setw(9) << (T > 0 && P > 0 ? P / T : 0.0);
      const double OB = BytesOf(Op + "/" + Ours + "/" + Case), PB = BytesOf(Op + "/" + Peer + "/" + Case);
      if (OB >= 0 || PB >= 0)
        Out << std::setprecision(0) << std::setw(14) << OB << std::setw(14) << PB;
      Out << "\n";
    }
  }
  std::cout << Out.str() << std::flush;
  benchmark::Shutdown();
  return 0;
}

}  // namespace benchcorpus
