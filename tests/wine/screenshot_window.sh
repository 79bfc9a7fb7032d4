#!/bin/sh
# screenshot_window.sh TITLE FILE: saves the X server's picture of the window
# with that title, as the screen shows it. Wine's top-level windows are X
# windows inside its desktop's window, where ImageMagick's own lookup by name
# does not reach, so the window is found by xwininfo and taken by xwd, which
# fails at once when the window has gone (ImageMagick's import would wait for
# a mouse click instead). Exits 1 when no window has that title.
title=$1
file=$2
id=$(xwininfo -name "$title" 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-fA-F]*\).*/\1/p')
[ -n "$id" ] || exit 1
status=1
xwd -silent -id "$id" -out "$file.xwd" && convert "xwd:$file.xwd" "$file" && status=0
rm -f "$file.xwd"
exit $status
