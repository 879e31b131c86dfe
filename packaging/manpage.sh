#!/usr/bin/env bash
# Writes the Portuguese manual page of one of the programs from its --help and --version,
# compressed as Debian expects.
#   packaging/manpage.sh PROGRAM "descrição curta" SAÍDA.1.gz
set -euo pipefail
program=$1
description=$2
out=$3
name=$(basename "$program")
# help2man reads its own arguments as Latin-1: the texts in Portuguese go in afterwards.
page=$(help2man --locale=C.UTF-8 --no-info --no-discard-stderr --section=1 --name=@DESCRICAO@ \
  "$program")
month=$(date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" +%Y-%m)
version=$("$program" --version | head -n 1)
printf '%s\n' "$page" |
  sed -e "s|^\.TH .*|.TH ${name^^} \"1\" \"$month\" \"$version\" \"Comandos do usuário\"|" \
    -e 's/^\.SH NAME$/.SH NOME/' -e 's/^\.SH DESCRIPTION$/.SH DESCRIÇÃO/' \
    -e "s|@DESCRICAO@|$description|" |
  gzip -9n >"$out"
