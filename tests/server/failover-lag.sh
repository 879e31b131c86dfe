#!/usr/bin/env bash
# A failover while replication lags, in short rounds. A relay holds the synchronous standby's
# stream, so the commits under way wait for it when the primary dies: their replies are lost and
# the standby never got them. The standby is promoted, and a second rhserver writes there before
# the first one reaches it (a second relay keeps the first away meanwhile), so transaction numbers
# of the dead primary are used again by other writes. Then the old primary comes back as a primary
# of its own, first in --db. Every round: no acknowledged write is missing from the new primary,
# the old primary takes no write, and with the new primary stopped `ping` says not ready.
set -euo pipefail
bindir=$1 srcdir=$2 relay_program=$3
rounds=${RH_FAILOVER_ROUNDS:-5}
pair="$srcdir/tests/support/postgres-pair.sh"
work=$(mktemp -d)
chmod 755 "$work" # the database programs run as postgres when this runs as root
export PAIR_TEMPLATE=$work/template # one cluster made, copied for every round
pids=()
writers=()
cleanup() {
  touch "$work/stop"
  for pid in "${writers[@]}" "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -d "$work/db" ] && bash "$pair" stop "$work/db" || true
  rm -rf "$work"
}
trap cleanup EXIT
problems=()
problem() { problems+=("volta $round: $*"); echo "failover-lag: volta $round: $*" >&2; }
fail() { echo "failover-lag: $*" >&2; tail -20 "$work"/server-*.log 2>/dev/null >&2 || true; exit 1; }
sql() { bash "$pair" sql "$work/db" "$1" "$2"; }
count() { [ -f "$1" ] && wc -l <"$1" || echo 0; }
# Waits until the command succeeds, at most the seconds given.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}
at_least() { [ "$(count "$1")" -ge "$2" ]; }
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start_relay() { # UPSTREAM_PORT NAME: sets relay_pid and relay_port
  "$relay_program" 127.0.0.1 "$1" >"$work/relay-$2" 2>>"$work/relay.log" &
  relay_pid=$!
  pids+=("$relay_pid")
  wait_for 30 test -s "$work/relay-$2" || fail "o relay $2 não começou"
  relay_port=$(head -1 "$work/relay-$2")
}
start_server() { # NAME DB: sets server (HOST:PORT)
  "$bindir/rhserver" --listen 127.0.0.1:0 --db "$2" --workers 2 2>"$work/server-$1.log" &
  pids+=("$!")
  wait_for 60 grep -qs "listening on" "$work/server-$1.log" || fail "rhserver $1 não começou a escutar"
  server=$(sed -n 's/^rhserver listening on //p' "$work/server-$1.log")
}
call() { timeout 40 "$bindir/rhcall" --server "$1" "${@:2}"; }
# One tie after another of one questionnaire, until told to stop; each acknowledged one is noted.
# Writers of different questionnaires never wait for each other's locks.
writer() { # SERVER QUESTIONNAIRE
  for branch in 0001 0002 0003 0004; do
    for position in $(seq -f %04g 1 20); do
      [ -f "$work/stop" ] && return
      if out=$(call "$1" SetInsCarg "$branch" "$2" "$position" 2>&1); then
        echo "$branch $2 $position" >>"$work/acknowledged"
      else
        echo "$out" >>"$work/failed"
      fi
    done
  done
}

lost_total=0
started=$SECONDS
for round in $(seq 1 "$rounds"); do
  rm -rf "$work/db" "$work"/stop "$work"/acknowledged "$work"/failed "$work"/relay-* "$work"/server-* \
    "$work/old-primary"
  touch "$work/old-primary"
  for attempt in 1 2 3; do
    primary_port=$((20000 + RANDOM % 12000)) standby_port=$((primary_port + 1))
    if port_in_use "$primary_port" || port_in_use "$standby_port"; then continue; fi
    start_relay "$primary_port" replication
    replication_relay=$relay_pid
    status=0
    bash "$pair" start "$work/db" "$primary_port" "$standby_port" "$relay_port" || status=$?
    [ "$status" = 0 ] && break
    [ "$status" = 77 ] && exit 77
    bash "$pair" stop "$work/db" || true
    rm -rf "$work/db"
    [ "$attempt" = 3 ] && fail "o par de bancos não subiu em três tentativas"
  done
  start_relay "$standby_port" standby
  standby_relay=$relay_pid
  both="postgresql://rh:rh@127.0.0.1:$primary_port,127.0.0.1:$standby_port/rh"
  "$bindir/rhserver" --db "$both" --init --demo >/dev/null 2>&1 || fail "--init --demo"

  # The first server reaches the standby only through its relay.
  start_server first "postgresql://rh:rh@127.0.0.1:$primary_port,127.0.0.1:$relay_port/rh"
  first=$server
  writers=()
  for questionnaire in 01001 01002 01003 02001; do
    writer "$first" "$questionnaire" &
    writers+=("$!")
  done
  wait_for 60 at_least "$work/acknowledged" 5 || fail "nenhuma gravação confirmada antes do failover"

  # The standby stops receiving: both workers' commits wait, one for the standby, the other for
  # the first (a commit that notifies waits for the one before).
  kill -USR1 "$replication_relay"
  waiting() {
    [ "$(sql "$primary_port" "SELECT COUNT(*) FROM pg_stat_activity WHERE usename = 'rh' AND \
      state = 'active' AND query = 'COMMIT'")" -ge 2 ]
  }
  wait_for 60 waiting || fail "as confirmações não ficaram esperando o standby"
  # The transaction numbers the first server's lost commits were given.
  numbers=$(sql "$primary_port" "SELECT MAX(backend_xid::text::bigint) FROM pg_stat_activity \
    WHERE usename = 'rh'")
  kill -USR1 "$standby_relay"
  bash "$pair" kill-primary "$work/db"
  bash "$pair" promote "$work/db"

  # The second server writes on the new primary until its transaction numbers pass those.
  start_server second "$both"
  second=$server
  position=0
  passed() {
    [ "$(sql "$standby_port" "SELECT txid_snapshot_xmax(txid_current_snapshot())")" -gt "$numbers" ]
  }
  until passed; do
    position=$((position + 1))
    [ "$position" -le 120 ] || fail "o segundo servidor não passou da transação $numbers"
    q=$(printf '0%d00%d' $(((position - 1) / 60 + 1)) $((((position - 1) / 20) % 3 + 1)))
    if call "$second" SetInsCarg 0005 "$q" "$(printf %04d $(((position - 1) % 20 + 1)))" >/dev/null 2>&1
    then
      echo "0005 $q $(printf %04d $(((position - 1) % 20 + 1)))" >>"$work/acknowledged"
    fi
  done

  # Now the first server finds the new primary and writes there.
  kill -USR2 "$standby_relay"
  before=$(count "$work/acknowledged")
  wait_for 60 at_least "$work/acknowledged" $((before + 5)) ||
    fail "o primeiro servidor não voltou a gravar depois do failover"

  # The old primary comes back first in --db; the servers connect again.
  early=$(count "$work/acknowledged")
  bash "$pair" restart-old-primary "$work/db"
  old_rows=$(sql "$primary_port" "SELECT COUNT(*) FROM RHAUDITORIA")
  sql "$standby_port" "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE \
    usename = 'rh'" >/dev/null
  before=$(count "$work/acknowledged")
  wait_for 60 at_least "$work/acknowledged" $((before + 5)) ||
    problem "nenhuma gravação confirmada depois da volta do primário antigo"
  # A server started now, knowing nothing yet, writes on the new primary too.
  start_server third "$both"
  third=$server
  if call "$third" SetInsCarg 0005 02 0001 >/dev/null 2>&1; then
    echo "0005 02 0001" >>"$work/acknowledged"
  fi
  touch "$work/stop"
  wait "${writers[@]}"

  stored=$(sql "$standby_port" "SELECT CDFILIAL || ' ' || CDINSPECAO || ' ' || CDCARGO FROM INSPCARGO")
  missing=$(comm -23 <(sort -u "$work/acknowledged") <(printf '%s\n' "$stored" | sort -u))
  lost=$(printf '%s' "$missing" | grep -c . || true)
  lost_early=$(comm -23 <(head -n "$early" "$work/acknowledged" | sort -u) <(printf '%s\n' "$stored" |
    sort -u) | wc -l)
  lost_total=$((lost_total + lost))
  [ "$lost" = 0 ] || problem "$lost confirmadas e ausentes do novo primário: $(echo $missing | head -c 200)"
  [ "$(count "$work/acknowledged")" -gt 0 ] || problem "nenhuma gravação confirmada"
  # Every failure told what happened, in Portuguese.
  if [ -f "$work/failed" ] && grep -v "banco de dados" "$work/failed" | grep -q .; then
    problem "falha sem mensagem clara: $(grep -v 'banco de dados' "$work/failed" | head -3)"
  fi

  # With the new primary gone, only the old one answers: not ready, and no write is taken.
  bash "$pair" stop-standby "$work/db"
  checks=()
  for server in "$first" "$second" "$third"; do
    if call "$server" ping >/dev/null 2>&1; then echo "ping pronto com só o primário antigo"; fi \
      >>"$work/old-primary" &
    checks+=("$!")
    if call "$server" SetInsCarg 0005 01 0010 >/dev/null 2>&1; then
      echo "gravação confirmada com só o primário antigo"
    fi >>"$work/old-primary" &
    checks+=("$!")
  done
  wait "${checks[@]}"
  while read -r line; do problem "$line"; done <"$work/old-primary"
  [ "$(sql "$primary_port" "SELECT COUNT(*) FROM RHAUDITORIA")" = "$old_rows" ] ||
    problem "o primário antigo recebeu gravações"
  echo "failover-lag: volta $round: $(sort -u "$work/acknowledged" | wc -l) gravações confirmadas," \
    "$lost ausentes do novo primário ($lost_early antes da volta do primário antigo)," \
    "$(count "$work/failed") chamadas falharam"

  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  bash "$pair" stop "$work/db"
done
echo "failover-lag: $rounds voltas em $((SECONDS - started)) s; $lost_total gravações confirmadas" \
  "ausentes do novo primário"
[ "${#problems[@]}" = 0 ] || fail "${#problems[@]} problemas: ${problems[*]}"
