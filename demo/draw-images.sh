#!/usr/bin/env bash
# Redraws the demo's car pictures (simple silhouettes) under images/ with ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/images"

body() { # body type -> "body polygon|window polygon", on a 240x140 canvas
  case $1 in
    hatchback) echo "14,104 14,80 46,74 82,48 164,46 198,70 214,76 216,104|90,52 160,50 190,72 66,72" ;;
    sedan)     echo "8,104 8,82 44,76 84,50 150,48 180,72 226,76 228,104|92,54 118,54 118,72 64,74" ;;
    estate)    echo "8,104 8,80 44,74 80,48 210,46 222,74 226,104|88,52 146,50 146,70 62,72" ;;
    van)       echo "8,104 8,82 34,78 58,52 86,38 226,38 228,104|66,54 88,42 110,42 110,70 50,74" ;;
    cabrio)    echo "8,104 8,82 60,76 90,56 96,56 84,76 226,76 228,104|" ;;
    coupe)     echo "8,104 10,84 50,78 102,52 150,50 198,74 228,80 228,104|108,56 146,54 176,74 80,76" ;;
  esac
}

draw() { # file, body type, colour, caption
  local file=$1 type=$2 colour=$3 caption=$4 shape windows
  IFS='|' read -r shape windows <<<"$(body "$type")"
  local args=(-size 240x140 "gradient:#e8eef6-#ffffff"
    -fill '#9aa0a6' -draw "rectangle 0,118 240,140"
    -fill "$colour" -stroke '#202020' -strokewidth 2 -draw "polygon $shape")
  [[ -n $windows ]] && args+=(-fill '#cfe3f3' -strokewidth 1 -draw "polygon $windows")
  args+=(-fill '#202020' -stroke '#202020' -draw "circle 62,106 62,122" -draw "circle 184,106 184,122"
    -fill '#b0b0b0' -draw "circle 62,106 62,114" -draw "circle 184,106 184,114"
    -stroke none -fill '#303030' -font DejaVu-Sans-Bold -pointsize 14 -annotate +8+20 "$caption")
  if [[ $file == *.gif ]]; then
    convert "${args[@]}" +dither -colors 32 "$file"
  else
    convert "${args[@]}" -quality 80 -strip "$file"
  fi
}

mkdir -p Ford Opel Volkswagen Lada-VAZ "Alfa Romeo"
draw Ford/fiesta.jpg hatchback '#c0392b' 'Ford Fiesta'
draw Ford/focus_hb.jpg hatchback '#2e86c1' 'Ford Focus'
draw Ford/focus_sedan.jpg sedan '#2e86c1' 'Ford Focus Седан'
draw Ford/focus_estate.gif estate '#7f8c8d' 'Ford Focus Комби'
draw Ford/mondeo.gif sedan '#1c2833' 'Ford Mondeo'
draw Ford/mondeo_estate.jpg estate '#566573' 'Ford Mondeo Комби'
draw Opel/astra.gif hatchback '#f1c40f' 'Opel Astra F'
draw Opel/astra_cabrio.jpg cabrio '#e74c3c' 'Opel Astra F Кабрио'
draw Opel/vectra.jpg sedan '#27ae60' 'Opel Vectra B'
draw Opel/vectra_caravan.gif estate '#1e8449' 'Opel Vectra B Караван'
draw Opel/corsa.jpg hatchback '#e67e22' 'Opel Corsa B'
draw Opel/corsa_van.gif van '#ecf0f1' 'Opel Combo'
draw Volkswagen/golf3.jpg hatchback '#5d6d7e' 'VW Golf III'
draw Volkswagen/golf3_cabrio.gif cabrio '#922b21' 'VW Golf III Кабрио'
draw Volkswagen/passat.jpg sedan '#154360' 'VW Passat B5'
draw Volkswagen/passat_variant.gif estate '#7d6608' 'VW Passat Вариант'
draw Lada-VAZ/vaz2107.gif sedan '#f5f5f5' 'ВАЗ 2107'
draw Lada-VAZ/niva.jpg hatchback '#186a3b' 'Лада Нива'
draw Lada-VAZ/samara.jpg hatchback '#a93226' 'Лада Самара'
draw "Alfa Romeo/alfa145.jpg" hatchback '#b03a2e' 'Alfa Romeo 145'
draw "Alfa Romeo/alfa156.gif" sedan '#7b241c' 'Alfa Romeo 156'
draw "Alfa Romeo/alfa156_sw.jpg" estate '#641e16' 'Alfa 156 Sportwagon'
draw "Alfa Romeo/gtv.jpg" coupe '#cb4335' 'Alfa Romeo GTV'
