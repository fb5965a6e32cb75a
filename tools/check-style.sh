#!/usr/bin/env bash
# Checks what a reviewer would otherwise point out by hand: the C++ sources
# follow .clang-format, and every shell script of the repository passes
# ShellCheck at warning level. Changes nothing; exits non-zero on a finding.
#   check-style.sh          check
#   check-style.sh --fix    reformat the C++ sources in place
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

# Tracked files only: build trees and generated sources are not ours to check.
mapfile -t cpp < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i -- "${cpp[@]}"
    exit 0
fi

status=0
clang-format --dry-run -Werror -- "${cpp[@]}" || status=1

# Every tracked file that starts with a bash or sh interpreter line,
# templates configured at build time (*.in) included.
scripts=()
while IFS= read -r file; do
    [ -f "$file" ] || continue
    IFS= read -r first <"$file" || true
    case "$first" in
    '#!'*bash* | '#!'*/sh | '#!'*' sh') scripts+=("$file") ;;
    esac
done < <(git ls-files)
shellcheck -S warning -- "${scripts[@]}" || status=1

if [ "$status" = 0 ]; then
    echo "check-style: ${#cpp[@]} C++ files formatted, ${#scripts[@]} shell scripts clean"
fi
exit $status
