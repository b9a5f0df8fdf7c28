#!/usr/bin/env bash
# Fails when an #include crosses a line of the layering in docs/ARCHITECTURE.md:
#   - each folder includes only from itself and the folders below it, and
#     every quoted include names its folder ("driver/pic_options.h");
#   - pic/ includes nothing but itself and the C++ standard library;
#   - in product code (every folder but tests/ fuzz/ bench/ samples/) a
#     platform header (<windows.h>, <unistd.h>, <sys/...>) stands only in a
#     platform file: *_win32.cpp, *_posix.cpp, *_native.cpp, *_headless.cpp,
#     or a resource script (*.rc);
#   - no two units of product code include each other, directly or through
#     others (a unit is a .cpp with its .h; x_win32.cpp belongs to x.h).
#   usage: scripts/check-includes.sh
set -euo pipefail
shopt -s extglob
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
    engine) echo "engine driver output pic host" ;;
    tools) echo "tools engine driver output pic host" ;;
    python) echo "python engine output pic host" ;;
    desktop) echo "desktop pic host" ;;
    web) echo "web pic" ;;
    tests | fuzz | bench | samples) echo "*" ;;
    *) echo "" ;;
  esac
}

# Platform headers: the system's own, beyond the C and C++ standard libraries.
platform_header='^([Ww]indows|winsock2|ws2tcpip|commctrl|shlobj|shellapi|io|direct|process|unistd'
platform_header+='|fcntl|dlfcn|pthread|sched|semaphore|dirent|termios|pty|grp|pwd|poll|spawn|malloc'
platform_header+='|libgen|utime|netdb)\.h$|^(sys|netinet|arpa)/'

# Known exceptions, each to be emptied by the change that ends it.
# The host's interface header still hands <windows.h> to every unit of the
# plug-in, output/ and pictool; output/'s use of the name ReplaceFile (a
# macro of <windows.h>) depends on it.
platform_exceptions=" host/host_api.h "
circle_exceptions=""

is_product() { # is_product FOLDER
  case $1 in
    tests | fuzz | bench | samples) return 1 ;;
    *) return 0 ;;
  esac
}

is_platform_file() { # is_platform_file FILE
  [[ $1 =~ _(win32|posix|native|headless)\.cpp$ || $1 == *.rc ]]
}

# The unit a file belongs to: its path without extension or platform suffix.
unit_of() { # unit_of FILE
  local unit=${1%.*}
  echo "${unit%_@(win32|posix|native|headless)}"
}

unit_edges=$(mktemp)
trap 'rm -f "$unit_edges"' EXIT

# Within pictool, likewise: support/ < convert/ < commands/ < main.
pictool_may_include() {
  case $1 in
    support) echo "support" ;;
    convert) echo "convert support" ;;
    *) echo "commands convert support" ;;
  esac
}

# Within the engine: support/ < formats/ < convert/. Of driver/ it takes the
# options block's stored layout alone, never the driver's code.
engine_may_include() {
  case $1 in
    support) echo "support" ;;
    formats) echo "formats support" ;;
    *) echo "convert formats support" ;;
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
      if is_product "$folder" && [[ $target == */* ]]; then
        from=$(unit_of "$file")
        to=$(unit_of "$target")
        [ "$from" = "$to" ] || echo "$from $to" >>"$unit_edges"
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
      if [[ $file == engine/* && $target == engine/* ]]; then
        part=${file#engine/}
        part=${part%%/*}
        wanted=${target#engine/}
        wanted=${wanted%%/*}
        case " $(engine_may_include "$part") " in
          *" $wanted "*) ;;
          *) cross "$file:$line" "the engine's $part/ may not include \"$target\"" ;;
        esac
      fi
      if [[ $folder == engine && $target == driver/* && $target != driver/pic_options.h ]]; then
        cross "$file:$line" "engine/ takes only driver/pic_options.h of driver/"
      fi
      case " $allowed " in
        *" ${target%%/*} "*) ;;
        *) cross "$file:$line" "$folder/ may not include \"$target\" (only from: $allowed)" ;;
      esac
    elif [[ $directive =~ \<([^\>]*)\> ]]; then
      target=${BASH_REMATCH[1]}
      if [ "$folder" = pic ] && [[ $target == *.* || $target == */* ]]; then
        cross "$file:$line" "pic/ may include only the C++ standard library, not <$target>"
      elif is_product "$folder" && [[ $target =~ $platform_header ]] &&
        ! is_platform_file "$file" && [[ $platform_exceptions != *" $file "* ]]; then
        cross "$file:$line" "<$target> is a platform header; only platform files include one"
      fi
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(git ls-files '*.cpp' '*.h' '*.rc')

# Include circles between units: tsort names the units of each loop it meets
# ("tsort: -: input contains a loop:", then one line per unit). Edges that
# touch an excepted unit are left out.
without_exceptions() {
  local from to
  while read -r from to; do
    [[ $circle_exceptions == *" $from "* || $circle_exceptions == *" $to "* ]] || echo "$from $to"
  done
}
while IFS= read -r loop; do
  cross "include circle" "$loop"
done < <(sort -u "$unit_edges" | without_exceptions | tsort 2>&1 >/dev/null |
  awk '/contains a loop/ { if (units) print units; units = ""; next }
       { sub(/^tsort: /, ""); units = units ? units " -> " $0 : $0 }
       END { if (units) print units }')

if [ "$crossings" -ne 0 ]; then
  echo "includes: $crossings crossing(s) of the layering in docs/ARCHITECTURE.md" >&2
  exit 1
fi
echo "includes: every include keeps to the layering"
