#!/bin/bash
# include_rules_test.sh -- what the layers' include paths cannot stop: a quoted include that
# climbs out of its folder ("../", which the compiler resolves beside the including file first),
# and the platforms' own headers (SDL, PulseAudio, libcurl; the browser's) outside the backend
# that owns them, which the system's include path reaches from anywhere.
# Usage: include_rules_test.sh SOURCE_DIR
set -u
cd "$1" || exit 1
status=0
report() {
  echo "FAIL: $1:" >&2
  printf '%s\n' "$2" >&2
  status=1
}
files=$(find src tools -name '*.h' -o -name '*.cpp' | sort)
climbing=$(grep -nE '^\s*#\s*include\s*"\.\./' $files)
[ -n "$climbing" ] && report 'an include climbs out of its folder' "$climbing"
platform_headers='^\s*#\s*include\s*[<"](SDL[^/]*\.h|SDL2/|pulse/|curl/)'
outside_real=$(grep -nE "$platform_headers" $(printf '%s\n' $files | grep -v '^src/platform/real/'))
[ -n "$outside_real" ] && report 'SDL, PulseAudio or libcurl outside src/platform/real/' "$outside_real"
browser_headers='^\s*#\s*include\s*[<"]emscripten[/.]'
outside_web=$(grep -nE "$browser_headers" $(printf '%s\n' $files | grep -v '^src/platform/web/'))
[ -n "$outside_web" ] && report "the browser's headers outside src/platform/web/" "$outside_web"
[ "$status" = 0 ] && echo "PASS"
exit "$status"
