#!/bin/sh
# check_picture.sh FILE: whether a picture of a window shows the window: not
# mostly one colour (the bare desktop, or a window not yet drawn) and with
# its caption bar along the top (Wine's desktop, black, shows through where
# the window has not been drawn yet: a black block over part of the caption
# was seen). Exits 1 with the reason on stderr when it does not.
file=$1
size=$(identify -format '%w %h' "$file" 2>/dev/null) || { echo "$file: not a picture" >&2; exit 1; }
set -- $size
width=$1 height=$2
if [ "$width" -lt 60 ] || [ "$height" -lt 40 ]; then
  echo "$file: ${width}x$height is too small for a window" >&2
  exit 1
fi

# The most frequent colour's share of the picture.
top=$(convert "$file" -format %c histogram:info:- | sed -E 's/^ *([0-9]+):.*/\1/' | sort -rn | head -n 1)
if [ $((top * 100)) -ge $((width * height * 97)) ]; then
  echo "$file: one colour covers $((top * 100 / (width * height)))% of the picture" >&2
  exit 1
fi

# The caption: rows 4 to 11 from the top (inside the bar at 96 to 192 DPI),
# in three thirds across. Each third is a gradient or carries the title or
# the buttons, so it has many colours, and none is mostly black.
third=$(((width - 8) / 3))
for i in 0 1 2; do
  region="${third}x8+$((4 + i * third))+4"
  colours=$(convert "$file" -crop "$region" +repage -format %k info:)
  black=$(convert "$file" -crop "$region" +repage -colorspace Gray -threshold 4% -negate -format '%[fx:int(100*mean)]' info:)
  if [ "$black" -ge 50 ] || [ "$colours" -lt 4 ]; then
    echo "$file: no caption bar in the top rows at $region ($black% black, $colours colours)" >&2
    exit 1
  fi
done
exit 0
