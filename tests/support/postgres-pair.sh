#!/usr/bin/env bash
# A PostgreSQL primary and a synchronous standby of it on this machine, for failover tests:
#   postgres-pair.sh start DIR PRIMARY_PORT STANDBY_PORT [UPSTREAM_PORT]
#     (role and database rh, password rh; with UPSTREAM_PORT the standby streams from the primary
#     through that port of 127.0.0.1, a relay)
#   postgres-pair.sh kill-primary DIR | promote DIR | stop-standby DIR | stop DIR
#   postgres-pair.sh restart-old-primary DIR   (the dead primary comes back as a primary of its
#     own, waiting for no standby)
#   postgres-pair.sh sql DIR PORT STATEMENT
# With PAIR_TEMPLATE set, the primary's cluster (role and database made) is made once there and
# copied for each pair, for tests that make many.
# Exits 77 where no PostgreSQL server programs are installed. As root it runs them as postgres.
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "PostgreSQL (servidor) não está instalado"; exit 77; }
as_owner() { if [ "$(id -u)" = 0 ]; then timeout 60 runuser -u postgres -- "$@"; else timeout 60 "$@"; fi; }
command=$1 dir=$2

case "$command" in
start)
  primary_port=$3 standby_port=$4 upstream_port=${5:-}
  mkdir -p "$dir"
  [ "$(id -u)" = 0 ] && chown postgres "$dir"
  template=${PAIR_TEMPLATE:-}
  if [ -n "$template" ] && [ ! -d "$template" ]; then
    mkdir -p "$template.tmp"
    [ "$(id -u)" = 0 ] && chown postgres "$template.tmp"
    as_owner "$bin/initdb" -D "$template.tmp/data" -U postgres --no-sync --auth-local=trust \
      --auth-host=scram-sha-256 >"$dir/initdb.log"
    as_owner "$bin/pg_ctl" -D "$template.tmp/data" -l "$dir/template.log" -w \
      -o "-c listen_addresses= -c unix_socket_directories=$template.tmp -c fsync=off" start >/dev/null
    as_owner "$bin/psql" -h "$template.tmp" -U postgres -qAt \
      -c "CREATE ROLE rh LOGIN PASSWORD 'rh'" -c "CREATE DATABASE rh OWNER rh" >/dev/null
    as_owner "$bin/pg_ctl" -D "$template.tmp/data" -w stop >/dev/null
    mv "$template.tmp/data" "$template"
    rm -rf "$template.tmp"
  fi
  if [ -n "$template" ]; then
    cp -a "$template" "$dir/primary"
  else
    as_owner "$bin/initdb" -D "$dir/primary" -U postgres --no-sync --auth-local=trust \
      --auth-host=scram-sha-256 >"$dir/initdb.log"
  fi
  cat >>"$dir/primary/postgresql.conf" <<CONF
port = $primary_port
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir'
wal_level = replica
max_wal_senders = 4
fsync = off
CONF
  # The stream through a relay comes over TCP.
  [ -n "$upstream_port" ] &&
    sed -i '1i host replication postgres 127.0.0.1/32 trust' "$dir/primary/pg_hba.conf"
  as_owner "$bin/pg_ctl" -D "$dir/primary" -l "$dir/primary.log" -w start >/dev/null ||
    { tail -5 "$dir/primary.log" >&2; exit 1; }
  [ -n "$template" ] || as_owner "$bin/psql" -h "$dir" -p "$primary_port" -U postgres -qAt \
    -c "CREATE ROLE rh LOGIN PASSWORD 'rh'" -c "CREATE DATABASE rh OWNER rh" >/dev/null
  as_owner "$bin/pg_basebackup" -h "$dir" -p "$primary_port" -U postgres -D "$dir/standby" -R -c fast --no-sync \
    -X stream
  cat >>"$dir/standby/postgresql.conf" <<CONF
port = $standby_port
cluster_name = 'standby1'
CONF
  [ -n "$upstream_port" ] && echo "primary_conninfo = 'host=127.0.0.1 port=$upstream_port user=postgres'" \
    >>"$dir/standby/postgresql.auto.conf"
  as_owner "$bin/pg_ctl" -D "$dir/standby" -l "$dir/standby.log" -w start >/dev/null ||
    { tail -5 "$dir/standby.log" >&2; exit 1; }
  # From now on every commit waits until the standby has it: a promoted standby holds every
  # acknowledged write. Set only now, as the role and database above would have waited for ever.
  as_owner "$bin/psql" -h "$dir" -p "$primary_port" -U postgres -qAt \
    -c "ALTER SYSTEM SET synchronous_standby_names = 'standby1'" \
    -c "ALTER SYSTEM SET synchronous_commit = on" -c "SELECT pg_reload_conf()" >/dev/null
  for _ in $(seq 1 100); do
    state=$(as_owner "$bin/psql" -h "$dir" -p "$primary_port" -U postgres -qAt \
      -c "SELECT sync_state FROM pg_stat_replication WHERE application_name = 'standby1'")
    [ "$state" = sync ] && exit 0
    sleep 0.1
  done
  echo "o standby não ficou síncrono" >&2
  exit 1
  ;;
kill-primary) as_owner "$bin/pg_ctl" -D "$dir/primary" -m immediate stop >/dev/null ;;
promote) as_owner "$bin/pg_ctl" -D "$dir/standby" -w promote >/dev/null ;;
# The primary's commits then wait for a standby that is not there.
stop-standby) as_owner "$bin/pg_ctl" -D "$dir/standby" -m fast stop >/dev/null ;;
restart-old-primary)
  as_owner "$bin/pg_ctl" -D "$dir/primary" -l "$dir/primary.log" -w \
    -o "-c synchronous_standby_names=" start >/dev/null || { tail -5 "$dir/primary.log" >&2; exit 1; }
  ;;
sql) as_owner "$bin/psql" -h "$dir" -p "$3" -U postgres -d rh -qAt -c "$4" ;;
stop)
  for node in primary standby; do
    [ -f "$dir/$node/postmaster.pid" ] &&
      as_owner "$bin/pg_ctl" -D "$dir/$node" -m immediate stop >/dev/null 2>&1 || true
  done
  ;;
*) echo "uso: $0 start|kill-primary|promote|restart-old-primary|stop-standby|sql|stop DIR ..." >&2
  exit 2 ;;
esac
