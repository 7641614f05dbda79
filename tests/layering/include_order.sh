#!/bin/bash
# Includes point one way: a folder of src/ includes only itself and the
# folders below it, in this order from the bottom:
#   common < platform < diag < app < device < catalog < fs
#          < recovery, deepscan, video, preview (side by side) < session
# Prints every include that runs back up and fails when there is one.
#
# With a second argument FACES_DIR (the checkout), the faces cli/ and ui/
# are checked too: they include only the session API (session/), the
# catalogue (catalog/), the listener and prompt interfaces (app/notify.h)
# and common/, never the readers, the scan or the copy-out themselves.
set -u
src="${1:?usage: include_order.sh SRC_DIR}"
rank() {
  case "$1" in
    common) echo 0 ;; platform) echo 1 ;; diag) echo 2 ;; app) echo 3 ;;
    device) echo 4 ;; catalog) echo 5 ;; fs) echo 6 ;;
    recovery|deepscan|video|preview) echo 7 ;;
    session) echo 8 ;;
    *) echo 99 ;;
  esac
}
bad=0
while IFS= read -r -d '' file; do
  rel="${file#"$src"/}"
  own="${rel%%/*}"
  ownRank=$(rank "$own")
  while IFS= read -r inc; do
    target="${inc%%/*}"
    [[ "$target" == "$own" ]] && continue
    targetRank=$(rank "$target")
    if (( targetRank >= ownRank )) && ! (( targetRank == 7 && ownRank == 7 )); then
      echo "$rel includes $inc ($own may not include $target)"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\/[^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -print0 -o -name '*.cpp' -print0)
faces="${2:-}"
if [[ -n "$faces" ]]; then
  while IFS= read -r -d '' file; do
    rel="${file#"$faces"/}"
    while IFS= read -r inc; do
      case "$inc" in
        session/*|catalog/*|common/*|app/notify.h) ;;
        *) echo "$rel includes $inc (a face includes only session/, catalog/, common/ and app/notify.h)"; bad=1 ;;
      esac
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\/[^"]*\)".*/\1/p' "$file")
  done < <(find "$faces/cli" "$faces/ui" \( -name '*.h' -o -name '*.cpp' \) -print0 2>/dev/null)
fi
if (( bad )); then echo "includes that run back up were found"; exit 1; fi
echo "includes point one way"
