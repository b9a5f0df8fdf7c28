#!/usr/bin/env bash
# Fails when an #include crosses a line of the layering in docs/ARCHITECTURE.md:
# each folder includes only from itself and the folders below it, every
# quoted include names its folder ("driver/pic_options.h"), and pic/ includes
# nothing but itself and the C++ standard library (<cstdint>, not <unistd.h>).
#   usage: scripts/check-includes.sh
set -euo pipefail
cd "$(dirname "$0")/.." || exit 1

# The folders each folder may include from; "*" is anything.
may_include() {
  case $1 in
    host) echo "host" ;;
    pic) echo "pic" ;;
    output) echo "output host" ;;
    driver) echo "driver output pic host" ;;
    ui) echo "ui driver pic host" ;;
    module) echo "module ui driver pic host" ;;
    tools) echo "tools driver output pic host" ;;
    tests | fuzz | bench | samples) echo "*" ;;
    *) echo "" ;;
  esac
}

# Within pictool, likewise: support/ < formats/ < convert/ < commands/ < main.
pictool_may_include() {
  case $1 in
    support) echo "support" ;;
    formats) echo "formats support" ;;
    convert) echo "convert formats support" ;;
    commands) echo "commands convert formats support" ;;
    *) echo "commands convert formats support" ;;
  esac
}

crossings=0
cross() { # cross FILE:LINE MESSAGE
  echo "$1: $2" >&2
  crossings=$((crossings + 1))
}

while IFS= read -r file; do
  folder=${file%%/*}
  [ "$folder" != "$file" ] || continue # files at the root include nothing of ours
  allowed=$(may_include "$folder")
  if [ -z "$allowed" ]; then
    cross "$file" "folder $folder/ has no place in the layering; add it to scripts/check-includes.sh"
    continue
  fi
  while IFS=: read -r line directive; do
    if [[ $directive =~ \"([^\"]*)\" ]]; then
      target=${BASH_REMATCH[1]}
      if [[ $target != */* ]]; then
        cross "$file:$line" "\"$target\" does not name its folder"
        continue
      fi
      [ "$allowed" != "*" ] || continue
      if [[ $file == tools/pictool/* && $target == tools/pictool/* ]]; then
        part=${file#tools/pictool/}
        part=${part%%/*}
        wanted=${target#tools/pictool/}
        wanted=${wanted%%/*}
        case " $(pictool_may_include "$part") " in
          *" $wanted "*) ;;
          *) cross "$file:$line" "pictool's $part/ may not include \"$target\"" ;;
        esac
      fi
      case " $allowed " in
        *" ${target%%/*} "*) ;;
        *) cross "$file:$line" "$folder/ may not include \"$target\" (only from: $allowed)" ;;
      esac
    elif [ "$folder" = pic ] && [[ $directive =~ \<([^\>]*)\> ]]; then
      target=${BASH_REMATCH[1]}
      if [[ $target == *.* || $target == */* ]]; then
        cross "$file:$line" "pic/ may include only the C++ standard library, not <$target>"
      fi
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(git ls-files '*.cpp' '*.h' '*.rc')

if [ "$crossings" -ne 0 ]; then
  echo "includes: $crossings crossing(s) of the layering in docs/ARCHITECTURE.md" >&2
  exit 1
fi
echo "includes: every include keeps to the layering"
