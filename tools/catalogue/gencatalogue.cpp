// gencatalogue: a large, deterministic catalogue for benchmarks, written straight to a Jet 4.0 file.
//   gencatalogue SCHEMA.txt OUTPUT.mdb
// 60 brands, 2,000 models, 10,000 engines, 40,000 car versions with one engine-data row and one or
// two engine types each, 200,000 catalogue-number rows. The same schema gives the same bytes.
#include "tools/jet4/Jet4Text.h"
#include "tools/jet4/Jet4Writer.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

namespace {

using jet4::TRow;
using jet4::TTable;

constexpr int kBrands = 60, kModels = 2000, kEnginesPerModel = 5,
              kAutosPerEngine = 4, kSerialsPerAuto = 5;

const char* const kBrandNames[kBrands] = {
    "Alfa Romeo", "Audi",      "BMW",      "Chevrolet",  "Chrysler",   "Citroen",     "Dacia",    "Daewoo",
    "Daihatsu",   "Fiat",      "Ford",     "Honda",      "Hyundai",    "Isuzu",       "Jaguar",   "Jeep",
    "Kia",        "Lada/VAZ",  "Lancia",   "Land Rover", "Mazda",      "Mercedes-Benz", "Mini",   "Mitsubishi",
    "Moskvich",   "Nissan",    "Opel",     "Peugeot",    "Porsche",    "Renault",     "Rover",    "Saab",
    "Seat",       "Skoda",     "Smart",    "Ssangyong",  "Subaru",     "Suzuki",      "Toyota",   "Trabant",
    "Volkswagen", "Volvo",     "Wartburg", "Zastava",    "Tata",       "Proton",      "Lexus",    "Infiniti",
    "Cadillac",   "Dodge",     "Pontiac",  "Buick",      "Aro",        "UAZ",         "GAZ",      "Innocenti",
    "Autobianchi", "Talbot",   "Simca",    "Austin"};
const char* const kFuels[] = {"Бензин", "Дизел", "Пропан-бутан", "Метан", "Бензин/Електро"};
const char* const kParts[] = {"Предно гърне",  "Средно гърне",     "Задно гърне",   "Катализатор",
                              "Предна тръба",  "Средна тръба",     "Задна тръба",   "Гъвкава връзка",
                              "Монтажен к-т",  "Филтър за твърди частици", "Скоба", "Уплътнение"};
const char* const kVariants[] = {"i", "i 16V", " TDI", " D", " TD", " GTI", " CDTI", " HDi"};
const char* const kBodies[] = {"Хечбек", "Седан", "Кабрио", "Комби", "Ван", "Купе"};

class TGenerator {
 public:
  explicit TGenerator(jet4::TDatabase& db) : db_(db) {}

  void Run() {
    TTable& brands = Table("Brands");
    TTable& models = Table("Models");
    TTable& engines = Table("Engines");
    TTable& fuels = Table("Fuels");
    TTable& autos = Table("Auto");
    TTable& defs = Table("EngineDefs");
    TTable& types = Table("EngineTypes");
    TTable& parts = Table("Parts");
    TTable& serials = Table("Serials");
    std::int64_t id = 0;
    for (const char* f : kFuels) fuels.Rows.push_back({++id, std::string(f)});
    id = 0;
    for (const char* p : kParts) parts.Rows.push_back({++id, std::string(p)});
    for (int b = 0; b < kBrands; ++b) brands.Rows.push_back({std::int64_t{b + 1}, std::string(kBrandNames[b])});
    std::int64_t engineId = 0, autoId = 0, typeId = 0, serialId = 0;
    for (int m = 0; m < kModels; ++m) {
      const std::int64_t brandId = m % kBrands + 1;
      const std::int64_t modelId = m + 1;
      models.Rows.push_back({modelId, "Модел " + std::to_string(m / kBrands + 1) + Letter(m), brandId});
      for (int e = 0; e < kEnginesPerModel; ++e) {
        ++engineId;
        const std::int64_t fuelId = Next(5) + 1;
        const int cc = 999 + Next(2000);
        const std::string def = Litres(cc) + kVariants[Next(8)];
        const std::string code = EngineCode();
        engines.Rows.push_back({engineId, def, modelId, fuelId, code});
        for (int a = 0; a < kAutosPerEngine; ++a) {
          ++autoId;
          const int start = 1985 + Next(20);
          const bool running = Next(5) == 0;
          TRow row{autoId, engineId, brandId, modelId, fuelId, def + " " + kBodies[a % 6]};
          Optional(row, Next(4) != 0, "pic" + std::to_string(autoId) + (a % 2 ? ".gif" : ".jpg"));
          row.push_back(std::int64_t{start});
          row.push_back(std::int64_t{1 + Next(12)});
          Optional(row, !running, std::int64_t{start + 1 + Next(10)});
          Optional(row, !running, std::int64_t{1 + Next(12)});
          Optional(row, Next(3) == 0, std::string("С климатик"));
          for (int body = 0; body < 6; ++body) row.push_back(Next(3) == 0 || body == a % 6);
          autos.Rows.push_back(std::move(row));
          const int hp = 50 + Next(150);
          defs.Rows.push_back({autoId, autoId, def, std::int64_t{cc}, std::int64_t{hp}, std::int64_t{hp * 7355 / 10000}});
          types.Rows.push_back({++typeId, autoId, code});
          if (Next(2)) types.Rows.push_back({++typeId, autoId, EngineCode()});
          for (int s = 0; s < kSerialsPerAuto; ++s) {
            ++serialId;
            TRow serial{serialId, autoId, std::int64_t{Next(12) + 1}, KelvNumber(brandId), BosalNumber(),
                        std::to_string(10000 + Next(90000))};
            Optional(serial, Next(8) == 0, std::string("с монтажен комплект"));
            serials.Rows.push_back(std::move(serial));
          }
        }
      }
    }
  }

 private:
  TTable& Table(const std::string& name) {
    for (auto& t : db_.Tables)
      if (t.Name == name) return t;
    throw jet4::EJet4Error("the schema has no table " + name);
  }

  // Appends the value, or a null when it is not present.
  template <class T>
  static void Optional(TRow& row, bool present, T value) {
    if (present)
      row.emplace_back(std::move(value));
    else
      row.emplace_back();
  }

  // Integers from the Mersenne twister alone, so the output is the same with every standard library.
  int Next(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }

  static std::string Letter(int m) { return m % 3 == 0 ? "" : std::string(1, static_cast<char>('A' + m % 3)); }

  static std::string Litres(int cc) {
    const int tenths = (cc + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
  }

  std::string EngineCode() {
    std::string s;
    for (int i = 0; i < 3; ++i) s.push_back(static_cast<char>('A' + Next(26)));
    return s + std::to_string(100 + Next(900));
  }

  std::string KelvNumber(std::int64_t brandId) {
    const std::string name = kBrandNames[brandId - 1];
    std::string s{static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))),
                  static_cast<char>(std::toupper(static_cast<unsigned char>(name[1])))};
    char buf[16];
    std::snprintf(buf, sizeof buf, ".%02d.%02d", Next(100), Next(100));
    return s + buf;
  }

  std::string BosalNumber() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d-%03d", Next(1000), Next(1000));
    return buf;
  }

  jet4::TDatabase& db_;
  std::mt19937 rng_{20050101};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: gencatalogue SCHEMA.txt OUTPUT.mdb\n";
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw jet4::EJet4Error(std::string("cannot open ") + argv[1]);
    std::ostringstream text;
    text << in.rdbuf();
    jet4::TDatabase db;
    jet4::ParseText(text.str(), argv[1], db);
    TGenerator(db).Run();
    jet4::SaveDatabase(db, argv[2]);
  } catch (const jet4::EJet4Error& e) {
    std::cerr << "gencatalogue: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
