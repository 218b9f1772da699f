#!/usr/bin/env bash
# Every plug-in in the given folder exports exactly one symbol, its init__
# function: the host must not be able to bind to anything else of it, and
# plug-ins must not collide with each other.
set -u
dir=${1:?folder of the built plug-ins}
status=0
count=0
for so in "$dir"/KRV*.so; do
  [ -e "$so" ] || continue
  count=$((count + 1))
  name=$(basename "$so" .so | tr 'A-Z' 'a-z')
  exports=$(nm -D --defined-only "$so" | awk '{print $3}' | sort)
  if [ "$exports" != "init__$name" ]; then
    echo "$(basename "$so") exports: $(echo $exports) (expected only init__$name)"
    status=1
  fi
done
[ "$count" -gt 0 ] || { echo "no plug-ins in $dir"; exit 1; }
echo "$count plug-ins checked"
exit $status
