#!/bin/sh
# Starts and stops a throwaway PostgreSQL server for the ODBC tests.
#
#   scripts/test-postgres.sh start STATE_DIR [SQL_FILE...]
#   scripts/test-postgres.sh stop STATE_DIR
#
# start: initdb in a fresh temporary folder (as the postgres system user when
# run as root, since the server refuses to run as root), a free port on
# 127.0.0.1, a login role with a random password, and one database per SQL
# file, named after the file (default: tests/engine/backends/odbc/postgres/*.sql), built by
# that role. STATE_DIR/postgres.env then describes the server (host, port,
# user, password, databases) for the tests. When the server cannot be started
# here, postgres.env says status=unavailable with the reason, and the script
# still ends with 0 so that the tests can skip saying why; a fixture that
# fails to load is an error.
# stop: stops the server at once (immediate mode) and removes its folder.
set -eu

root="$(cd "$(dirname "$0")/.." && pwd)"
action=${1:-}
state_dir=${2:-}
if [ -z "$action" ] || [ -z "$state_dir" ]; then
  echo "usage: $0 start|stop STATE_DIR [SQL_FILE...]" >&2
  exit 2
fi
shift 2
state="$state_dir/postgres.env"

# Runs a command as the server's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

value_of() {
  sed -n "s/^$1=//p" "$state" 2>/dev/null | head -n 1
}

unavailable() {
  mkdir -p "$state_dir"
  printf 'status=unavailable\nreason=%s\n' "$1" > "$state"
  echo "test-postgres: PostgreSQL tests will skip: $1"
  exit 0
}

stop_server() {
  [ -f "$state" ] || return 0
  data=$(value_of datadir)
  bindir=$(value_of bindir)
  folder=$(value_of folder)
  if [ -n "$data" ] && [ -d "$data" ]; then
    as_owner "$bindir/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  if [ -n "$folder" ]; then
    rm -rf "$folder"
  fi
  rm -f "$state"
}

case "$action" in
  stop)
    stop_server
    exit 0
    ;;
  start) ;;
  *)
    echo "usage: $0 start|stop STATE_DIR [SQL_FILE...]" >&2
    exit 2
    ;;
esac

stop_server
mkdir -p "$state_dir"

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  unavailable "the postgresql package is not installed (no /usr/lib/postgresql/*/bin/initdb)"
fi
if [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; then
  unavailable "running as root and there is no postgres system user to run the server"
fi

folder=$(mktemp -d /tmp/kesmark-pg.XXXXXX)
chmod 755 "$folder"
data="$folder/data"
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$folder"
fi
printf 'status=starting\nfolder=%s\ndatadir=%s\nbindir=%s\n' "$folder" "$data" "$bindir" > "$state"

if ! as_owner "$bindir/initdb" -D "$data" -U postgres -A trust --auth-host=scram-sha-256 \
    -E UTF8 --locale=C -N >"$folder/initdb.log" 2>&1; then
  reason="initdb failed: $(tail -n 1 "$folder/initdb.log")"
  stop_server
  unavailable "$reason"
fi

# A free port: pick one at random and let the server tell us whether it can
# bind it; try again a few times.
port=""
for attempt in 1 2 3 4 5 6 7 8; do
  candidate=$((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
  if ss -Hltn "sport = :$candidate" 2>/dev/null | grep -q .; then
    continue
  fi
  if as_owner "$bindir/pg_ctl" -D "$data" -l "$folder/server.log" -w -t 60 \
      -o "-c port=$candidate -c listen_addresses=127.0.0.1 -c unix_socket_directories=$folder \
          -c fsync=off -c synchronous_commit=off -c full_page_writes=off \
          -c shared_buffers=16MB -c max_connections=40" start >/dev/null 2>&1; then
    port=$candidate
    break
  fi
done
if [ -z "$port" ]; then
  reason="the server did not start: $(tail -n 1 "$folder/server.log" 2>/dev/null)"
  stop_server
  unavailable "$reason"
fi

user=kesmark
password="pw-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
psql_admin() {
  as_owner "$bindir/psql" -X -q -h "$folder" -p "$port" -U postgres -d postgres \
    -v ON_ERROR_STOP=1 "$@"
}
psql_admin -c "CREATE ROLE $user LOGIN PASSWORD '$password'" >/dev/null

if [ $# -eq 0 ]; then
  set -- "$root"/tests/engine/backends/odbc/postgres/*.sql
fi
databases=""
for file in "$@"; do
  name=$(basename "$file" .sql)
  psql_admin -c "CREATE DATABASE \"$name\" OWNER $user" >/dev/null
  # The fixture is read by the role from a copy the server's owner can read.
  cp "$file" "$folder/$name.sql"
  chmod 644 "$folder/$name.sql"
  if ! as_owner "$bindir/psql" -X -q -h "$folder" -p "$port" -U "$user" -d "$name" \
      -v ON_ERROR_STOP=1 -f "$folder/$name.sql" >"$folder/$name.log" 2>&1; then
    echo "test-postgres: building database $name from $file failed:" >&2
    cat "$folder/$name.log" >&2
    stop_server
    exit 1
  fi
  databases="$databases $name"
done

cat > "$state" <<EOF
status=running
folder=$folder
datadir=$data
bindir=$bindir
host=127.0.0.1
port=$port
user=$user
password=$password
databases=${databases# }
EOF
echo "test-postgres: server on 127.0.0.1:$port with databases:$databases"
