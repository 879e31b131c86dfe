#!/usr/bin/env bash
# Starts the machine's PostgreSQL cluster and makes the test role and database (idempotent).
set -eu
version=$(ls /usr/lib/postgresql | sort -V | tail -n 1)
pg_lsclusters -h | grep -q "^$version main" || pg_createcluster "$version" main >/dev/null
pg_ctlcluster "$version" main start 2>/dev/null || pg_ctlcluster "$version" main status >/dev/null
for _ in $(seq 1 30); do su postgres -c "psql -qtAc 'select 1'" >/dev/null 2>&1 && break; sleep 0.5; done
su postgres -c "psql -qtAc \"select 1 from pg_roles where rolname='rhtest'\"" | grep -q 1 ||
  su postgres -c "psql -qc \"create role rhtest login password 'rhtest'\""
# bench/compare makes databases of its own beside the tests' one.
su postgres -c "psql -qc 'alter role rhtest createdb'"
su postgres -c "psql -qtAc \"select 1 from pg_database where datname='rhtest'\"" | grep -q 1 ||
  su postgres -c "psql -qc 'create database rhtest owner rhtest'"
