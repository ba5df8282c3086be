#!/usr/bin/env bash
# Makes the seed corpus of fuzz_db_import: small Jet 4.0 files written by jet4write (a table of
# every column type in compressed and plain text, and the catalogue's nine tables with a few rows),
# and a bare file header.
#   make_db_import_corpus.sh PATH/TO/jet4write
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
write=$1
out="$here/db_import"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/types.txt" <<'TXT'
table Types
  ID     autonumber
  Flag   boolean
  Small  byte
  Short  integer
  Long   long
  Money  currency
  Real   double
  Moment datetime
  Name   text(40)
  Note   memo
end
rows Types
  1, yes, 7, -12, 100000, 12.5, 3.25, "2004-05-28 17:46:30", "Ford Focus", "Кратка бележка"
  2, no, null, null, null, null, null, null, null, null
  3, yes, 0, 0, 0, 0, 0, "1899-12-30", "", ""
  5, no, 255, 32767, -2147483648, -0.0001, 1e300, "2099-12-31", "O'Neil", "Ауспух"
end
TXT
cat > "$work/rows.txt" <<'TXT'
rows Fuels
  1, "Бензин"
  2, "Дизел"
end
rows Brands
  1, "Ford"
  3, "Lada/VAZ"
end
rows Models
  1, "Focus", 1
  2, "Нива", 3
end
rows Engines
  1, "1.6i", 1, 1, "FYDA"
  2, "1.7i", 2, 1, "21214"
end
rows Auto
  1, 1, 1, 1, 1, "1.6i Хечбек", "focus.jpg", 1998, 10, 2004, 11, null, yes, no, no, no, no, no
  2, 2, 3, 2, 2, "1.7i 4x4", "", 1994, 1, 2010, 12, "4x4", no, no, no, no, no, yes
end
rows EngineDefs
  1, 1, "1.6i 16V", 1596, 100, 74
end
rows EngineTypes
  1, 1, "FYDA"
end
rows Parts
  1, "Предно гърне"
end
rows Serials
  1, 1, 1, "FO.16.01", "281-723", "22364", null
  2, 2, 1, "LA.21.01", "283-011", "17'634", "с монтажен к-т"
end
TXT
"$write" --text compressed -o "$out/types-compressed.mdb" "$work/types.txt"
"$write" --text plain -o "$out/types-plain.mdb" "$work/types.txt"
"$write" -o "$out/catalogue.mdb" "$top/tools/catalogue/schema.txt" "$work/rows.txt"
head -c 64 "$out/catalogue.mdb" > "$out/header-only.mdb"
