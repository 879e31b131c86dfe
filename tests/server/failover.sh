#!/usr/bin/env bash
# A primary and a synchronous standby; rhserver given both. Writes go on while the primary dies
# and the standby is promoted: rhserver finds the new primary by itself, every write it
# acknowledged is there, the calls caught in between fail with a message and the next ones work,
# and the readiness check says not ready while no primary answers.
set -euo pipefail
bindir=$1 srcdir=$2
pair="$srcdir/tests/support/postgres-pair.sh"
work=$(mktemp -d)
chmod 755 "$work" # the database programs run as postgres when this runs as root
server_pid=
watcher_pid=
cleanup() {
  [ -n "$watcher_pid" ] && kill "$watcher_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  bash "$pair" stop "$work/db" || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "failover: $*" >&2; [ -f "$work/server.log" ] && tail -20 "$work/server.log" >&2; exit 1; }
now_ms() { date +%s%3N; }

# Ports below the range the system hands out to outgoing connections, and free now; another test
# may still take one before the database does, so a failed start is tried again on others.
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for attempt in 1 2 3; do
  primary_port=$((20000 + RANDOM % 12000)) standby_port=$((primary_port + 1))
  if port_in_use "$primary_port" || port_in_use "$standby_port"; then
    [ "$attempt" = 3 ] && fail "nenhuma porta livre para o par de bancos"
    continue
  fi
  status=0
  bash "$pair" start "$work/db" "$primary_port" "$standby_port" || status=$?
  [ "$status" = 0 ] && break
  [ "$status" = 77 ] && exit 77
  bash "$pair" stop "$work/db" || true
  rm -rf "$work/db"
  [ "$attempt" = 3 ] && fail "o par de bancos não subiu em três tentativas"
done
db="postgresql://rh:rh@127.0.0.1:$primary_port,127.0.0.1:$standby_port/rh"
"$bindir/rhserver" --db "$db" --init --demo >/dev/null 2>&1 || fail "--init --demo"
"$bindir/rhserver" --listen 127.0.0.1:0 --db "$db" --workers 2 2>"$work/server.log" &
server_pid=$!
end=$((SECONDS + 60))
until grep -q "listening on" "$work/server.log" || [ "$SECONDS" -ge "$end" ]; do sleep 0.1; done
server=$(sed -n 's/^rhserver listening on //p' "$work/server.log")
[ -n "$server" ] || fail "rhserver não começou a escutar"
grep -q "esperam a confirmação de um standby" "$work/server.log" ||
  fail "a partida não disse que as gravações esperam o standby"
call() { timeout 30 "$bindir/rhcall" --server "$server" "$@"; }
call ping >/dev/null || fail "ping antes do failover"

# A subscriber of branch 0002 listens through the failover.
"$bindir/rhcall" --server "$server" --branch 0002 --watch >"$work/notices" 2>&1 &
watcher_pid=$!

# One write after another, each a tie of its own (over again once all are tied), until told to
# stop; the acknowledged ones are noted.
writer() {
  while :; do
    for branch in 0002 0004 0005; do
      for questionnaire in 01001 01002 01003; do
        for position in $(seq -f %04g 1 20); do
          [ -f "$work/stop" ] && return
          if out=$(call SetInsCarg "$branch" "$questionnaire" "$position" 2>&1); then
            echo "$branch $questionnaire $position" >>"$work/acknowledged"
          else
            echo "$(now_ms) $out" >>"$work/failed"
          fi
          sleep 0.02
        done
      done
    done
  done
}
acknowledged() { [ -f "$work/acknowledged" ] && wc -l <"$work/acknowledged" || echo 0; }
# Waits for a count of acknowledged writes, never for a time: a slow machine only takes longer.
# The limit is there for a service that stopped writing altogether.
wait_for_writes() {
  local end=$((SECONDS + 90))
  until [ "$(acknowledged)" -ge "$1" ]; do
    [ "$SECONDS" -lt "$end" ] || fail "$2: só $(acknowledged) gravações confirmadas em 90 s"
    sleep 0.1
  done
}
writer &
writer_pid=$!
wait_for_writes 10 "antes do failover"
bash "$pair" kill-primary "$work/db"
if call ping >/dev/null 2>&1; then fail "ping disse pronto sem nenhum primário"; fi
promoted=$(now_ms)
bash "$pair" promote "$work/db"
first=
for _ in $(seq 1 300); do
  if call ping >/dev/null 2>&1; then first=$(now_ms); break; fi
  sleep 0.1
done
[ -n "$first" ] || fail "o serviço não achou o novo primário em 30 s"
wait_for_writes $(($(acknowledged) + 10)) "depois do failover"
touch "$work/stop"
wait "$writer_pid"

acknowledged=$(sort -u "$work/acknowledged" | wc -l)
[ -f "$work/failed" ] || fail "nenhuma chamada falhou durante o failover (o primário caiu mesmo?)"
# Every failure told a person what happened, in Portuguese, and never claimed nothing was stored
# where it might have been.
if grep -v "banco de dados" "$work/failed" | grep -q .; then
  fail "falha sem mensagem clara: $(grep -v 'banco de dados' "$work/failed" | head -3)"
fi
# Each acknowledged write is on the new primary.
stored=$(bash "$pair" sql "$work/db" "$standby_port" \
  "SELECT CDFILIAL || ' ' || CDINSPECAO || ' ' || CDCARGO FROM INSPCARGO" | sort)
missing=$(comm -23 <(sort -u "$work/acknowledged") <(printf '%s\n' "$stored"))
[ -z "$missing" ] || fail "confirmadas e perdidas: $missing"
# The service writes again through the new primary.
call SetDelCarg 0002 01001 0001 >/dev/null || fail "gravar depois do failover"
# ... and the subscriber hears of it: the change watch found the new primary too.
end=$((SECONDS + 30))
until grep -q '"SetDelCarg"' "$work/notices" || [ "$SECONDS" -ge "$end" ]; do sleep 0.1; done
grep -q '"SetDelCarg"' "$work/notices" || fail "o assinante não soube da gravação depois do failover"
echo "failover: $acknowledged gravações confirmadas, todas no novo primário;" \
  "$(wc -l <"$work/failed") chamadas falharam; da promoção ao serviço pronto: $((first - promoted)) ms"
