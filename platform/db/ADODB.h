#pragma once
// The connection to the catalogue database and its queries.
//
// TADOConnection opens a Jet 4.0 file named by its connection string and loads it
// into an in-memory SQLite database (platform/db/JetImport.h); the file itself is only read.
// TADOQuery runs Jet SQL on it: ":Name" parameters, nested INNER JOINs, DISTINCTROW, a final
// ";", text compared and ordered without regard to case (Cyrillic included).
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/db/DB.h"

struct sqlite3;
struct sqlite3_stmt;
namespace kelvdb {
struct TranslatedSql;
}

enum TConnectMode {
  cmUnknown,
  cmRead,
  cmWrite,
  cmReadWrite,
  cmShareDenyRead,
  cmShareDenyWrite,
  cmShareExclusive,
  cmShareDenyNone,
};

enum TCursorType { ctUnspecified, ctOpenForwardOnly, ctKeyset, ctDynamic, ctStatic };

class TADOQuery;

class TADOConnection : public TComponent {
 public:
  explicit TADOConnection(TComponent* AOwner);
  ~TADOConnection() override;

  // "Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=<file>": pairs
  // separated by ";", names without regard to case, values optionally in quotes. Only the Jet
  // 4.0 provider is known. The Data Source may use "\" separators and is looked up without
  // regard to case. Changing it while connected raises Exception.
  const std::string& ConnectionString() const { return FConnectionString; }
  void SetConnectionString(const std::string& Value);

  // Connecting reads the whole file (Exception on failure: missing, unreadable, not Jet 4.0,
  // damaged). Disconnecting closes every query on the connection.
  bool Connected() const { return FDb != nullptr; }
  void SetConnected(bool Value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // Most processor time (seconds) that reading the file may use before connecting fails; 0 (the
  // default) allows 30 s plus 1 s per MiB of file. Processor time, not the clock: a busy machine
  // reads more slowly, never less.
  int ConnectionTimeout() const { return FConnectionTimeout; }
  void SetConnectionTimeout(int Value) { FConnectionTimeout = Value < 0 ? 0 : Value; }

  // Stored; the file is never locked and never written, so every mode behaves as share-deny-none.
  bool LoginPrompt() const { return FLoginPrompt; }
  void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
  TConnectMode Mode() const { return FMode; }
  void SetMode(TConnectMode Value) { FMode = Value; }
  std::string Provider() const;  // from the connection string

  int DataSetCount() const { return static_cast<int>(FDataSets.size()); }
  TADOQuery* DataSets(int Index) const;

  // The loaded database (null when not connected), for the queries.
  sqlite3* Handle() const { return FDb; }

  // Indexes made as queries need them (the file's own indexes come with the import). A table of
  // some size that a query compares with constants, or joins through an index that SQLite would
  // otherwise build for every run, gets a lasting index on those columns. Indexes change speed,
  // never results.
  // Makes sure an index leads with the first of Columns of Table; false when it cannot.
  bool EnsureIndex(const std::string& Table, const std::vector<std::string>& Columns);
  void AdviseIndexes(const std::string& Sql, const kelvdb::TranslatedSql& Translated);

 private:
  friend class TADOQuery;
  struct TableInfo {
    std::vector<std::string> Columns;
    std::string RowidColumn;  // an INTEGER PRIMARY KEY column, or ""
    long long Rows{0};
  };
  const TableInfo* Table(const std::string& Name);
  std::string FConnectionString;
  bool FLoginPrompt{true};
  TConnectMode FMode{cmUnknown};
  int FConnectionTimeout{0};
  sqlite3* FDb{nullptr};
  std::vector<TADOQuery*> FDataSets;
  std::vector<std::string> FIndexed;   // "table\ncolumn" known to lead an index
  std::vector<std::string> FAdvised;   // SQL texts whose indexes were seen to
  std::vector<std::pair<std::string, TableInfo>> FTables;
};

enum TParameterAttribute : int { paSigned = 0x10, paNullable = 0x40, paLong = 0x80 };
enum TParameterDirection { pdUnknown, pdInput, pdOutput, pdInputOutput, pdReturnValue };

// A parameter of a query; its value is text or null. A parameter that was never given a value
// cannot be used (opening raises Exception).
class TParameter {
 public:
  explicit TParameter(std::string Name) : FName(std::move(Name)) {}
  const std::string& Name() const { return FName; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType Value) { FDataType = Value; }
  int Size() const { return FSize; }
  void SetSize(int Value) { FSize = Value; }
  int Attributes() const { return FAttributes; }  // TParameterAttribute bits
  void SetAttributes(int Value) { FAttributes = Value; }
  TParameterDirection Direction() const { return FDirection; }
  void SetDirection(TParameterDirection Value) { FDirection = Value; }

  bool Assigned() const { return FAssigned; }
  bool IsNull() const { return FNull; }
  const std::string& Value() const { return FValue; }  // "" when null
  void SetValue(const std::string& Value) {
    FValue = Value;
    FNull = false;
    FAssigned = true;
  }
  void Clear() {  // null
    FValue.clear();
    FNull = true;
    FAssigned = true;
  }

 private:
  std::string FName;
  TFieldType FDataType{ftUnknown};
  int FSize{0};
  int FAttributes{0};
  TParameterDirection FDirection{pdInput};
  bool FAssigned{false};
  bool FNull{true};
  std::string FValue;
};

// The parameters of a query, made from the ":Name" markers of its SQL (one per distinct name,
// in order of first use; a name kept across SQL changes keeps its settings and value).
class TParameters {
 public:
  int Count() const { return static_cast<int>(FList.size()); }
  TParameter* Items(int Index) const;                     // EListError when out of range
  TParameter* FindParam(const std::string& Name) const;   // without regard to case; null when absent
  TParameter* ParamByName(const std::string& Name) const; // Exception "Parameter 'X' not found"

 private:
  friend class TADOQuery;
  explicit TParameters(TADOQuery* Query) : FQuery(Query) {}
  TADOQuery* FQuery;
  std::vector<std::unique_ptr<TParameter>> FList;
};

class TADOQuery : public TDataSet {
 public:
  explicit TADOQuery(TComponent* AOwner);
  ~TADOQuery() override;

  TADOConnection* Connection() const { return FConnection; }
  void SetConnection(TADOConnection* Value);

  // The SQL text, one line per string (joined by line breaks). Changing it closes the query and
  // remakes the parameters.
  TStrings* SQL() { return &FSQL; }
  TParameters& Parameters();

  // Stored; every query reads its whole result on opening (a client-side static cursor), which
  // gives record counts and filters whatever the setting.
  TCursorType CursorType() const { return FCursorType; }
  void SetCursorType(TCursorType Value) { FCursorType = Value; }

 protected:
  void InternalOpen(kelvdb::ResultSet& Rows, const FilterRequest* Filter, bool& FilterApplied) override;
  void InternalClose() override;

 private:
  friend class TADOConnection;
  struct Statement;
  void SQLChanged();
  void SyncParameters();
  void ConnectionClosing();
  sqlite3_stmt* Prepare(const std::string& Sql, bool Quiet, sqlite3_stmt* Keep = nullptr);
  void DropStatements();

  TADOConnection* FConnection{nullptr};
  TStringList FSQL;
  TParameters FParameters;
  std::string FParsedText;  // the SQL text FParameters and FTranslated were made from
  bool FParsed{false};
  struct Translation;
  std::unique_ptr<Translation> FTranslated;
  TCursorType FCursorType{ctKeyset};
  std::vector<std::unique_ptr<Statement>> FStatements;
};
