#!/usr/bin/env bash
# Checks that every #include "folder/..." in src/ keeps to the directions the README's Layout
# section allows; prints each include that does not and fails then.
set -u
cd "$(dirname "$0")/.."

# The folders a file of each folder may include from (its own always).
allowed() {
  case $1 in
    platform) echo "" ;;
    simulation) echo "platform" ;;
    device) echo "platform" ;;
    controls) echo "" ;;
    resources) echo "" ;;
    desktop) echo "" ;;
    desktop/mac) echo "desktop" ;;
    desktop/x11) echo "desktop controls" ;;
    desktop/posix) echo "desktop desktop/x11 simulation platform" ;;
    app) echo "desktop controls device resources" ;;
    *) echo "?" ;;
  esac
}

# A file's folder: desktop's platform bodies count as folders of their own.
folderOf() {
  local path=${1#src/}
  case $path in
    desktop/x11/*|desktop/posix/*|desktop/mac/*) echo "${path%/*}" ;;
    */*) echo "${path%%/*}" ;;
    *) echo "" ;;
  esac
}

status=0
while IFS= read -r file; do
  from=$(folderOf "$file")
  [ -n "$from" ] || continue
  rules=$(allowed "$from")
  if [ "$rules" = "?" ]; then
    echo "check-includes: $file: the folder '$from' has no rule in scripts/check-includes.sh"
    status=1
    continue
  fi
  while IFS= read -r target; do
    to=$(folderOf "src/$target")
    # Includes of the own folder, and of desktop/'s portable headers from its bodies.
    [ "$to" = "$from" ] && continue
    case " $rules " in *" $to "*) continue ;; esac
    echo "check-includes: $file includes \"$target\" ($from may not include $to)"
    status=1
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\/[^"]*\)".*/\1/p' "$file")
done < <(find src -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

[ $status -eq 0 ] && echo "check-includes: every include in src/ keeps to the allowed directions"
exit $status
