#!/usr/bin/env bash
# htmlcheck.sh STATE_DIR WIN_BIN_DIR -- the HTML view's window checks
# (htmlview_demo /check) on the Wine bench: prints the report and fails
# when any check does.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd -P)
state=$1
winbin=$2
report=$state/htmlcheck.txt
rm -f "$report"
"$here/../wine/bench.sh" run "$state" desktop_HtmlViewWindow "$winbin" -- "$winbin/htmlview_demo.exe" /check "Z:${report//\//\\}"
rc=$?
cat "$report" 2>/dev/null || { echo "htmlcheck: no report was written"; rc=1; }
exit $rc
