#!/bin/sh
# screenshot_window.sh TITLE FILE: saves the X server's picture of the window
# with that title, as the screen shows it. Wine's top-level windows are X
# windows inside its desktop's window, where ImageMagick's own lookup by name
# does not reach, so the window is found by xwininfo and taken by xwd, which
# fails at once when the window has gone (ImageMagick's import would wait for
# a mouse click instead). A picture that check_picture.sh refuses (mostly one
# colour, or no caption bar: the window not yet drawn in full) is taken again,
# up to 8 times in 4 s. Exits 1 when no window has that title, 2 when the
# picture stayed wrong: then FILE is not left, the last picture is kept as
# NAME.rejected.png beside it, for a person to look at, with the reason in
# NAME.rejected.txt.
title=$1
file=$2
here=$(dirname "$0")
rejected=${file%.png}.rejected
rm -f "$rejected.png" "$rejected.txt"
for attempt in 1 2 3 4 5 6 7 8; do
  id=$(xwininfo -name "$title" 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-fA-F]*\).*/\1/p')
  [ -n "$id" ] || exit 1
  xwd -silent -id "$id" -out "$file.xwd" && convert "xwd:$file.xwd" "$file" || { rm -f "$file.xwd"; exit 1; }
  rm -f "$file.xwd"
  why=$(sh "$here/check_picture.sh" "$file" 2>&1) && exit 0
  sleep 0.5
done
mv "$file" "$rejected.png"
echo "screenshot_window: the picture of \"$title\" stayed wrong after $attempt tries: $why" | tee "$rejected.txt" >&2
exit 2
