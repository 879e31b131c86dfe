#!/usr/bin/env bash
# The packaged unit keeps the service away from what it does not need: systemd's own rating of
# its exposure is 2.0 or better, and it raises the descriptor limit for many connections.
set -euo pipefail
unit="$1/packaging/rhserver.service"
command -v systemd-analyze >/dev/null || { echo "systemd-analyze não está instalado"; exit 77; }
fail() { echo "test_unit: $*" >&2; exit 1; }
report=$(systemd-analyze security --offline=true "$unit" 2>&1)
level=$(printf '%s\n' "$report" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$level" ] || fail "sem nível de exposição: $report"
awk -v l="$level" 'BEGIN { exit !(l <= 2.0) }' || fail "exposição $level, acima de 2.0: $report"
grep -q '^LimitNOFILE=' "$unit" || fail "LimitNOFILE não definido"
# Anything systemd finds wrong in the unit, but the program, which is installed only by the package.
problems=$(systemd-analyze verify "$unit" 2>&1 | grep -v 'is not executable' || true)
[ -z "$problems" ] || fail "systemd-analyze verify: $problems"
echo "unidade: exposição $level"
