// Reads arbitrary bytes as a report project; a project that reads must hold consistent indices.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/report/RavFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const kelvrep::TProjectDef p =
        kelvrep::ParseProject(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.rav");
    for (const kelvrep::TReportDef& r : p.Reports) {
      if (r.Fonts.empty()) __builtin_trap();
      const int fonts = static_cast<int>(r.Fonts.size());
      for (const kelvrep::TBlock& b : r.Blocks) {
        if (b.Font < 0 || b.Font >= fonts || b.HeaderFont < 0 || b.HeaderFont >= fonts) __builtin_trap();
        if (b.Type == kelvrep::TBlock::Table && b.Columns.empty()) __builtin_trap();
        for (const kelvrep::TItem& it : b.Items)
          if (it.Font < 0 || it.Font >= fonts) __builtin_trap();
      }
    }
  } catch (const EReportError&) {
  }
  return 0;
}
