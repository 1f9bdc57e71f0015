#!/usr/bin/env bash
# Fails when a file includes a header of a higher floor, or when tools and benchmarks
# reach past the public headers. Floors, lowest first:
#   platform < core < graphics < sound, softrender, d3d, font < top
set -u
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$top" || exit 2
floor() {
  case "$1" in
    platform) echo 0 ;; core) echo 1 ;; graphics) echo 2 ;;
    sound | softrender | d3d | font) echo 3 ;; top) echo 4 ;; *) echo -1 ;;
  esac
}
bad=0
check() {  # check FILE FLOOR
  local file=$1 own=$2 dir
  while read -r dir; do
    local f
    f=$(floor "$dir")
    if [ "$f" -gt "$own" ]; then
      echo "$file includes a header of $dir, a higher floor"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#include[[:space:]]*"\([a-z_0-9]*\)\/.*/\1/p' "$file")
}
for file in $(find src -name '*.cpp' -o -name '*.h'); do
  dir=${file#src/}
  check "$file" "$(floor "${dir%%/*}")"
done
for file in $(find platform include -name '*.cpp' -o -name '*.h'); do check "$file" 0; done
# Tools and benchmarks see include/ and platform/include/ alone.
for file in $(find tools bench -name '*.cpp' -o -name '*.h'); do
  if grep -Eq '^[[:space:]]*#include[[:space:]]*"(core|graphics|sound|softrender|d3d|font|top)/' "$file"; then
    echo "$file includes an internal header"
    bad=1
  fi
done
[ "$bad" = 0 ] && echo "layers: every include points down"
exit "$bad"
