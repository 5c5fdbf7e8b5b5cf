# What the Windows tests share, sourced by test-windows.sh and
# test-service.sh: Wine kept quiet and 64-bit, Linux paths as the Windows
# program sees them, and a private X display. Each script keeps its own
# WORK folder and clean-up; XVFB holds the display's process for it.

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
# A Linux path as a Windows path on Wine's drive Z:.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
# Starts Xvfb on a free display and exports DISPLAY; its pid in XVFB.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
  XVFB=$!
  for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$WORK/display")
}
