// jet4write: turns the readable description of tables, columns and rows into a Jet 4.0 file.
#include "tools/jet4/Jet4Text.h"
#include "tools/jet4/Jet4Writer.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int Usage() {
  std::cerr << "usage: jet4write [--text plain|compressed] -o OUTPUT.mdb INPUT.txt...\n"
               "  Reads the inputs in order as one description; --text sets how text columns\n"
               "  without their own choice are stored, over any 'option text' of the inputs.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  std::vector<std::string> inputs;
  jet4::TTextForm textForm = jet4::TTextForm::Default;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (a == "--text" && i + 1 < argc) {
      const std::string f = argv[++i];
      if (f == "plain") textForm = jet4::TTextForm::Plain;
      else if (f == "compressed") textForm = jet4::TTextForm::Compressed;
      else return Usage();
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      inputs.push_back(a);
    }
  }
  if (output.empty() || inputs.empty()) return Usage();
  try {
    jet4::TDatabase db;
    for (const auto& in : inputs) {
      std::ifstream f(in, std::ios::binary);
      if (!f) throw jet4::EJet4Error("cannot open " + in);
      std::ostringstream text;
      text << f.rdbuf();
      jet4::ParseText(text.str(), in, db);
    }
    if (textForm != jet4::TTextForm::Default) db.DefaultTextForm = textForm;
    jet4::SaveDatabase(db, output);
  } catch (const jet4::EJet4Error& e) {
    std::cerr << "jet4write: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
