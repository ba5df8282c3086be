// The catalogue database on the large generated catalogue (60 brands, 2,000 models, 10,000
// engines, 40,000 car versions, 200,000 catalogue numbers): opening it (the whole import), a search
// by catalogue number as the search window runs it, the details of one engine, and the walk of the
// brand/model/engine tree as the browse window loads it. Side by side, what a user would script:
// mdb-schema and mdb-export -I sqlite of every table piped into the sqlite3 tool (as is, and in
// one transaction), and the same queries on the database that gives.
//
// Opening is measured twice: on an idle machine and under a CPU hog (four spinning processes
// per processor, started for the benchmark and ended after it), ours and the pipeline alike.
//
// Counters: peak_MB is the growth of this process's peak resident memory during the benchmark
// (reset before it); child_peak_MB the peak of the processes it started (the import's reader, or
// the pipeline), as the system reports it for waited-for children.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/uDataMod.h"
#include "tests/support/CpuHog.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

#ifdef KELV_LARGE_CATALOGUE
const char* const kCatalogue = KELV_LARGE_CATALOGUE;
#else
const char* const kCatalogue = "";
#endif

std::string ConnectionString() {
  return std::string("Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=") + kCatalogue;
}

bool HaveCatalogue(benchmark::State& State) {
  if (*kCatalogue && fs::exists(kCatalogue)) return true;
  State.SkipWithError("large catalogue not built (target kelv_large_catalogue)");
  return false;
}

// Peak resident memory of this process: reset, then the growth since.
long long StatusKb(const char* Key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(Key, 0) == 0) return std::atoll(line.c_str() + std::strlen(Key));
  return 0;
}
struct PeakMeter {
  long long Base;
  PeakMeter() {
    std::ofstream("/proc/self/clear_refs") << "5";
    Base = StatusKb("VmRSS:");
  }
  double GrowthMb() const { return static_cast<double>(StatusKb("VmHWM:") - Base) / 1024.0; }
};
double ChildrenPeakMb() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// Runs a shell command; returns the peak resident memory (MB) of it and its children.
double Run(const std::string& Command) {
  const char* argv[] = {"/bin/sh", "-c", Command.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? static_cast<double>(ru.ru_maxrss) / 1024.0 : -1;
}

std::string PeerScript(const std::string& Db, bool Transaction) {
  const std::string f = std::string("'") + kCatalogue + "'";
  return "rm -f '" + Db + "'; { " + (Transaction ? "echo 'BEGIN;'; " : "") + "mdb-schema " + f +
         " sqlite; for t in $(mdb-tables -1 " + f + "); do mdb-export -I sqlite " + f + " \"$t\"; done; " +
         (Transaction ? "echo 'COMMIT;'; " : "") + "} | sqlite3 '" + Db + "'";
}

fs::path PeerDatabase() {
  static const fs::path db = [] {
    const fs::path p = fs::temp_directory_path() / ("kelv-bench-peer-" + std::to_string(getpid()) + ".db");
    Run(PeerScript(p.string(), true));
    return p;
  }();
  return db;
}

struct PeerCleanup {
  ~PeerCleanup() {
    std::error_code ec;
    fs::remove(fs::temp_directory_path() / ("kelv-bench-peer-" + std::to_string(getpid()) + ".db"), ec);
  }
} peerCleanup;

// A data module on the catalogue, as the program has it after start-up.
struct Module {
  fs::path Folder;
  std::unique_ptr<TDM> Dm;
  Module() {
    Folder = fs::temp_directory_path() / ("kelv-bench-" + std::to_string(getpid()));
    fs::create_directories(Folder / "DB");
    fs::copy_file(kCatalogue, Folder / "DB" / "kelv.m$$", fs::copy_options::overwrite_existing);
    SetExecutableFolder(Folder.string());
    Dm = std::make_unique<TDM>(nullptr);
  }
  ~Module() {
    Dm.reset();
    SetExecutableFolder("");
    std::error_code ec;
    fs::remove_all(Folder, ec);
  }
};

double Ms(std::chrono::steady_clock::time_point From) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - From).count();
}

// Catalogue numbers to search for (every 997th row of Serials).
std::vector<std::string> Numbers(TADOConnection* Conn) {
  TADOQuery q(nullptr);
  q.SetConnection(Conn);
  q.SQL()->SetText("SELECT SerialKELV FROM Serials");
  q.Open();
  std::vector<std::string> out;
  for (int r = 1; r <= q.RecordCount(); r += 997) out.push_back(q.FieldByName("SerialKELV")->AsStringAt(r));
  return out;
}

void Search(TDM* Dm, const std::string& Number) {
  TADOQuery* q = Dm->qrySearchSerial;
  q->Close();
  q->SetFilter("SerialKELV='" + Number + "'");
  q->SetFiltered(true);
  q->Open();
}

void Details(TDM* Dm, const std::string& Brand, const std::string& Model, const std::string& Engine) {
  TADOQuery* q = Dm->qryFillDetails;
  q->Close();
  q->SetFilter("");
  q->SetFiltered(false);
  q->Parameters().ParamByName("BrandID")->SetValue(Brand);
  q->Parameters().ParamByName("ModelID")->SetValue(Model);
  q->Parameters().ParamByName("EngineID")->SetValue(Engine);
  q->Open();
}

int WalkTree(TDM* Dm) {
  int nodes = 0;
  TADOQuery *brands = Dm->qryFillBrands, *models = Dm->qryFillModels, *engines = Dm->qryFillEngines;
  brands->Close();
  brands->Open();
  for (; !brands->Eof(); brands->Next()) {
    ++nodes;
    models->Close();
    models->Parameters().ParamByName("BrandID")->SetValue(brands->FieldByName("ID")->AsString());
    models->Open();
    for (; !models->Eof(); models->Next()) {
      ++nodes;
      engines->Close();
      engines->Parameters().ParamByName("ModelID")->SetValue(models->FieldByName("ID")->AsString());
      engines->Open();
      for (; !engines->Eof(); engines->Next()) nodes += engines->FieldByName("Def")->AsString().empty() ? 0 : 1;
    }
  }
  return nodes;
}

// ---------------------------------------------------------------------------------------------
// Opening

void BM_Open_Ours(benchmark::State& state, bool UnderHog) {
  if (!HaveCatalogue(state)) return;
  std::optional<testsupport::CpuHog> hog;
  if (UnderHog) hog.emplace();
  PeakMeter peak;
  for (auto _ : state) {
    TADOConnection conn(nullptr);
    conn.SetConnectionString(ConnectionString());
    conn.Open();
    benchmark::DoNotOptimize(conn.Handle());
  }
  state.counters["peak_MB"] = peak.GrowthMb();
  state.counters["child_peak_MB"] = ChildrenPeakMb();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(kCatalogue)));
}

void BM_Open_MdbExportToSqlite3(benchmark::State& state, bool Transaction, bool UnderHog) {
  if (!HaveCatalogue(state)) return;
  std::optional<testsupport::CpuHog> hog;
  if (UnderHog) hog.emplace();
  const std::string db = (fs::temp_directory_path() / ("kelv-bench-open-" + std::to_string(getpid()) + ".db")).string();
  double childPeak = 0;
  for (auto _ : state) {
    const double mb = Run(PeerScript(db, Transaction));
    if (mb < 0) {
      state.SkipWithError("mdb-export or sqlite3 failed (mdbtools and sqlite3 installed?)");
      break;
    }
    childPeak = std::max(childPeak, mb);
  }
  std::error_code ec;
  fs::remove(db, ec);
  state.counters["child_peak_MB"] = childPeak;
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(kCatalogue)));
}

// ---------------------------------------------------------------------------------------------
// Search by catalogue number

void BM_SearchSerial_Ours(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  Module m;
  const auto numbers = Numbers(m.Dm->Conn);
  const auto t0 = std::chrono::steady_clock::now();
  Search(m.Dm.get(), numbers[0]);  // the first search on a numbering makes its index
  const double first = Ms(t0);
  PeakMeter peak;
  std::size_t i = 0, rows = 0;
  for (auto _ : state) {
    Search(m.Dm.get(), numbers[i++ % numbers.size()]);
    rows += static_cast<std::size_t>(m.Dm->qrySearchSerial->RecordCount());
  }
  state.counters["first_ms"] = first;
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
  state.counters["peak_MB"] = peak.GrowthMb();
}

// The same join and condition in SQLite on the pipeline's database (no indexes: what it makes).
void BM_SearchSerial_SqliteOnExport(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  Module m;
  const auto numbers = Numbers(m.Dm->Conn);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(PeerDatabase().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    state.SkipWithError("peer database missing");
    sqlite3_close(db);
    return;
  }
  std::string sql = m.Dm->qrySearchSerial->SQL()->Text();
  sql = sql.substr(0, sql.rfind(';')) + " WHERE Serials.SerialKELV = ?1";
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
  PeakMeter peak;
  std::size_t i = 0, rows = 0;
  for (auto _ : state) {
    const std::string& n = numbers[i++ % numbers.size()];
    sqlite3_bind_text(s, 1, n.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(s) == SQLITE_ROW) ++rows;
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
  state.counters["peak_MB"] = peak.GrowthMb();
}

// A script's search: one sqlite3 process per number.
void BM_SearchSerial_Sqlite3Tool(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  Module m;
  const auto numbers = Numbers(m.Dm->Conn);
  std::string sql = m.Dm->qrySearchSerial->SQL()->Text();
  for (char& c : sql)
    if (c == '\r' || c == '\n') c = ' ';
  sql = sql.substr(0, sql.rfind(';'));
  std::size_t i = 0;
  double childPeak = 0;
  for (auto _ : state) {
    const std::string cmd = "sqlite3 '" + PeerDatabase().string() + "' \"" + sql + " WHERE Serials.SerialKELV = '" +
                            numbers[i++ % numbers.size()] + "'\" >/dev/null";
    childPeak = std::max(childPeak, Run(cmd));
  }
  state.counters["child_peak_MB"] = childPeak;
}

// The whole result of the search query, unfiltered (the program never opens it so).
void BM_SearchSerial_OpenAll(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  Module m;
  PeakMeter peak;
  for (auto _ : state) {
    m.Dm->qrySearchSerial->Close();
    m.Dm->qrySearchSerial->SetFiltered(false);
    m.Dm->qrySearchSerial->Open();
    state.counters["rows"] = m.Dm->qrySearchSerial->RecordCount();
  }
  m.Dm->qrySearchSerial->Close();
  state.counters["peak_MB"] = peak.GrowthMb();
}

// ---------------------------------------------------------------------------------------------
// Details of one engine and the tree

void BM_FillDetails_Ours(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  Module m;
  TADOQuery keys(nullptr);
  keys.SetConnection(m.Dm->Conn);
  keys.SQL()->SetText("SELECT Brand_ID, Model_ID, Engine_ID FROM Auto");
  keys.Open();
  std::vector<std::array<std::string, 3>> engines;
  for (int r = 1; r <= keys.RecordCount(); r += 397)
    engines.push_back({keys.Fields()[0]->AsStringAt(r), keys.Fields()[1]->AsStringAt(r), keys.Fields()[2]->AsStringAt(r)});
  const auto t0 = std::chrono::steady_clock::now();
  Details(m.Dm.get(), engines[0][0], engines[0][1], engines[0][2]);
  const double first = Ms(t0);
  PeakMeter peak;
  std::size_t i = 0, rows = 0;
  for (auto _ : state) {
    const auto& e = engines[i++ % engines.size()];
    Details(m.Dm.get(), e[0], e[1], e[2]);
    rows += static_cast<std::size_t>(m.Dm->qryFillDetails->RecordCount());
  }
  state.counters["first_ms"] = first;
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
  state.counters["peak_MB"] = peak.GrowthMb();
}

void BM_TreeWalk_Ours(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  Module m;
  const auto t0 = std::chrono::steady_clock::now();
  const int nodes = WalkTree(m.Dm.get());  // the first walk makes the indexes it needs
  const double first = Ms(t0);
  PeakMeter peak;
  for (auto _ : state) benchmark::DoNotOptimize(WalkTree(m.Dm.get()));
  state.counters["first_ms"] = first;
  state.counters["nodes"] = nodes;
  state.counters["queries"] = 1 + 60 + 2000;
  state.counters["peak_MB"] = peak.GrowthMb();
}

// The same walk in SQLite on the pipeline's database: one prepared query per brand and model.
void BM_TreeWalk_SqliteOnExport(benchmark::State& state) {
  if (!HaveCatalogue(state)) return;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(PeerDatabase().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    state.SkipWithError("peer database missing");
    sqlite3_close(db);
    return;
  }
  sqlite3_stmt *brands = nullptr, *models = nullptr, *engines = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM Brands", -1, &brands, nullptr);
  sqlite3_prepare_v2(db, "SELECT ID,Name FROM Models WHERE Brand_ID=?1 ORDER BY Name COLLATE NOCASE", -1, &models, nullptr);
  sqlite3_prepare_v2(db, "SELECT ID,Def FROM Engines WHERE Engines.Model_ID=?1 ORDER BY Def COLLATE NOCASE", -1, &engines,
                     nullptr);
  PeakMeter peak;
  int nodes = 0;
  for (auto _ : state) {
    nodes = 0;
    while (sqlite3_step(brands) == SQLITE_ROW) {
      ++nodes;
      sqlite3_bind_int64(models, 1, sqlite3_column_int64(brands, 0));
      while (sqlite3_step(models) == SQLITE_ROW) {
        ++nodes;
        sqlite3_bind_int64(engines, 1, sqlite3_column_int64(models, 0));
        while (sqlite3_step(engines) == SQLITE_ROW) ++nodes;
        sqlite3_reset(engines);
      }
      sqlite3_reset(models);
    }
    sqlite3_reset(brands);
  }
  sqlite3_finalize(brands);
  sqlite3_finalize(models);
  sqlite3_finalize(engines);
  sqlite3_close(db);
  state.counters["nodes"] = nodes;
  state.counters["peak_MB"] = peak.GrowthMb();
}

}  // namespace

BENCHMARK_CAPTURE(BM_Open_Ours, idle, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(BM_Open_MdbExportToSqlite3, as_scripted, false, false)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_Open_MdbExportToSqlite3, one_transaction, true, false)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_Open_Ours, under_cpu_hog, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(BM_Open_MdbExportToSqlite3, one_transaction_under_cpu_hog, true, true)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_SearchSerial_Ours)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SearchSerial_SqliteOnExport)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SearchSerial_Sqlite3Tool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_SearchSerial_OpenAll)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FillDetails_Ours)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_TreeWalk_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TreeWalk_SqliteOnExport)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
