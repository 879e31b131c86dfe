#!/usr/bin/env bash
# The Debian packages as Debian's tools see them: cpack builds them from the build folder,
# lintian finds no error and no warning beyond the overrides the package carries (each one
# justified in the README), and man finds the pages of the installed programs.
set -euo pipefail
build=$1
source_dir=$2
for tool in lintian help2man dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool não está instalado"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FALHOU: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || fail "cpack: $(cat "$out/cpack.log")"
deb=$(ls "$out"/rh_*.deb)
[ -n "$deb" ] || fail "cpack não fez o pacote: $(ls "$out")"

# The overrides lintian honours come in the package, each one justified in the README.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 ||
  fail "lintian: $(cat "$out/lintian.log")"
if grep -E '^(E|W):' "$out/lintian.log"; then fail "lintian apontou erros ou avisos"; fi

# Every program and library is stripped, and its symbols are in the .debug file of its build id.
dpkg-deb -x "$deb" "$out/root"
for binary in "$out"/root/usr/bin/* $(find "$out/root/usr/lib/rh" -name '*.so*' -type f); do
  file "$binary" | grep -q ", stripped" || fail "$binary não foi reduzido (strip)"
  id=$(readelf -n "$binary" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
  debug=$out/rh-dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  readelf -S "$debug" 2>/dev/null | grep -q debug_info || fail "sem símbolos de $binary em $debug"
done
for program in rh rhserver rhcall; do
  page=$(MANPATH="$out/root/usr/share/man" MANPAGER=cat MANWIDTH=100 man "$program" 2>&1) ||
    fail "man $program: $page"
  echo "$page" | grep -q "^NOME" || fail "a página de $program não tem a seção NOME"
done
page=$(MANPATH="$out/root/usr/share/man" MANPAGER=cat MANWIDTH=100 man rhserver)
for option in --listen --db --init --demo --token-file --backup --sqlite-sync; do
  echo "$page" | grep -q -- "$option" || fail "man rhserver não mostra $option"
done
echo "1 passed, 0 failed"
