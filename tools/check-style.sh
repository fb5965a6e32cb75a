#!/usr/bin/env bash
# Checks what a reviewer would otherwise point out by hand: the C++ sources
# follow .clang-format, every shell script of the repository passes
# ShellCheck at warning level and every QML file passes qmllint. Changes
# nothing; exits non-zero on a finding.
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

# The Qt 5 qmllint; /usr/bin/qmllint is qtchooser's, which picks by QT_SELECT.
mapfile -t qml < <(git ls-files -- '*.qml')
qmllint=/usr/lib/qt5/bin/qmllint
[ -x "$qmllint" ] || qmllint="$(command -v qmllint || true)"
if [ -z "$qmllint" ]; then
    echo "check-style: qmllint is missing (tools/install-deps.sh installs it)" >&2
    status=1
else
    QT_SELECT=qt5 "$qmllint" -- "${qml[@]}" || status=1
fi

if [ "$status" = 0 ]; then
    echo "check-style: ${#cpp[@]} C++ files formatted, ${#scripts[@]} shell scripts and ${#qml[@]} QML files clean"
fi
exit $status
