#!/usr/bin/env bash
# Screenshots of Vardex's window (as shown by show_window.exe under Wine on
# the current X display), as at start-up and with the idle limit set by a
# policy, and of its ten icons, as window.png, window_policy.png and
# icons.png in <out dir>. Checks that the picture is the window's frame around a client
# area of 4404 x 996 twips at the reported DPI, with something drawn in it.
#   screenshot.sh <show_window.exe> <icon dir> <out dir>
set -euo pipefail
exe=$1 icons=$2 out=$3
mkdir -p "$out"
log=$(mktemp)
# Without a window manager nobody draws the title bar; Wine draws it itself
# for windows started while "Decorated" is off. Only this process is started
# so, and the setting goes again at the end.
x11key='HKCU\Software\Wine\X11 Driver'
restore() {
  wine reg delete "$x11key" /v Decorated /f >/dev/null 2>&1 || true
  rm -f "$log"
}
trap restore EXIT
wine reg add "$x11key" /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1

for shown in start policy; do
  png=window.png
  [ "$shown" = start ] || png=window_$shown.png
  wine "$exe" 12000 $shown >"$log" 2>&1 &
  runner=$!
  for _ in $(seq 1 300); do
    grep -q '^window ' "$log" 2>/dev/null && break
    kill -0 "$runner" 2>/dev/null || { cat "$log"; echo "show_window ended early" >&2; exit 1; }
    sleep 0.1
  done
  read -r _ x y w h _ cw ch _ dpi < <(grep '^window ' "$log" | tr -d '\r')
  echo "window at $x,$y size ${w}x$h, client ${cw}x$ch at $dpi dpi"

  expect_w=$(( (4404 * dpi + 720) / 1440 ))
  expect_h=$(( (996 * dpi + 720) / 1440 ))
  if [ "$cw" -ne "$expect_w" ] || [ "$ch" -ne "$expect_h" ]; then
    echo "client area ${cw}x$ch, expected ${expect_w}x$expect_h" >&2
    exit 1
  fi

  sleep 1.5  # let the first paint finish
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$png"
  wait "$runner"

  size=$(identify -format '%wx%h' "$out/$png")
  [ "$size" = "${w}x$h" ] || { echo "screenshot is $size, expected ${w}x$h" >&2; exit 1; }
  colours=$(convert "$out/$png" -format '%k' info:)
  [ "$colours" -ge 8 ] || { echo "the window looks blank ($colours colours)" >&2; exit 1; }
  echo "wrote $out/$png"
done

( cd "$icons" && montage -background '#008080' -filter point -geometry 64x64+8+8 -tile 10x1 \
    smiley.ico timer_off.ico timer_on.ico dial1.ico dial2.ico dial3.ico dial4.ico dial5.ico \
    dial6.ico dial7.ico "$out/icons.png" )
echo "wrote $out/icons.png"
