#!/usr/bin/env bash
# Log shipping through a real rsyslogd (see tests.cmake).
#   rsyslog_shipping_test.sh <writer> <work folder> <imfile configuration>
# rsyslogd runs in the foreground with its own configuration, work folder and
# PID file and no system input (no imuxsock, no imklog); the imfile
# configuration is the shipped example with its log folder replaced by ours.
set -euo pipefail
writer=$1 work=$2 inputs=$3
# About 1 MB per second: each 1 MB file lives a little over a second, so two
# backups never share a second (see "Shipping with rsyslog" in the README for
# what happens when they do).
threads=4 lines=12500 limit_mb=1 backups=100 pause_ms=10

rsyslogd=$(command -v rsyslogd || true)
[ -n "$rsyslogd" ] || rsyslogd=/usr/sbin/rsyslogd
if [ ! -x "$rsyslogd" ]; then
    echo "rsyslogd is not installed (apt-get install rsyslog): skipped"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work/logs" "$work/state"
logs=$(cd "$work/logs" && pwd)
sed "s#/var/log/krynex/#$logs/#g" "$inputs" > "$work/inputs.conf"
cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work/state")
include(file="$work/inputs.conf")
template(name="krerrlog-line" type="string" string="%syslogtag% %msg%\n")
ruleset(name="krerrlog") {
    action(type="omfile" file="$work/shipped.log" template="krerrlog-line")
}
CONF
"$rsyslogd" -N1 -f "$work/rsyslog.conf" > "$work/config-check.txt" 2>&1 || {
    cat "$work/config-check.txt"; echo "rsyslogd refuses the configuration"; exit 1; }

"$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" > "$work/rsyslogd.out" 2>&1 &
rsyslog_pid=$!
stop_rsyslog() {
    kill -TERM "$rsyslog_pid" 2>/dev/null || true
    wait "$rsyslog_pid" 2>/dev/null || true
}
trap stop_rsyslog EXIT
for _ in $(seq 100); do [ -s "$work/rsyslogd.pid" ] && break; sleep 0.1; done
[ -s "$work/rsyslogd.pid" ] || { cat "$work/rsyslogd.out"; echo "rsyslogd did not start"; exit 1; }
sleep 1   # imfile sets up its watches after the PID file is written

"$writer" "$logs" "$threads" "$lines" "$limit_mb" "$backups" "$pause_ms"
rolled=$(find "$logs" -name 'error_*' | wc -l)
error_lines=$((threads * lines))
audit_lines=$((threads * ((lines + 3) / 4)))
expected=$((error_lines + audit_lines))

# Wait until rsyslog has shipped every line, or has shipped nothing new for 10 s.
last=-1 quiet=0
while :; do
    have=$(wc -l < "$work/shipped.log" 2>/dev/null || echo 0)
    [ "$have" -ge "$expected" ] && break
    if [ "$have" -eq "$last" ]; then quiet=$((quiet + 1)); else quiet=0; fi
    [ "$quiet" -ge 20 ] && break
    last=$have
    sleep 0.5
done
sleep 1   # anything beyond the expected lines (duplicates) arrives too
stop_rsyslog
trap - EXIT

echo "error log rolled over $rolled times; $error_lines error and $audit_lines audit lines written"
# Every line exactly once, and each thread's lines in the order written.
awk -v threads="$threads" -v errors="$lines" -v audits="$(((lines + 3) / 4))" '
    function check(kind, t, n) {
        key = kind " t=" t
        if (n != next_n[key]) {
            if (n < next_n[key]) dup[kind]++; else { gap[kind]++; if (shown++ < 10) print "  " kind " t=" t ": expected n=" next_n[key] ", got n=" n }
        }
        if (n >= next_n[key]) next_n[key] = n + 1
        count[kind]++
    }
    match($0, /ship-audit t=[0-9]+ n=[0-9]+/) { split(substr($0, RSTART, RLENGTH), f, /[ =]/); check("audit", f[3], f[5]); next }
    match($0, /ship t=[0-9]+ n=[0-9]+/)       { split(substr($0, RSTART, RLENGTH), f, /[ =]/); check("error", f[3], f[5]); next }
    END {
        bad = 0
        for (t = 0; t < threads; t++) {
            if (next_n["error t=" t] != errors) { print "  error t=" t ": last n=" next_n["error t=" t] - 1; bad = 1 }
            if (next_n["audit t=" t] != audits) { print "  audit t=" t ": last n=" next_n["audit t=" t] - 1; bad = 1 }
        }
        for (k in dup) { print "  " k ": " dup[k] " lines again or out of order"; bad = 1 }
        for (k in gap) { print "  " k ": " gap[k] " gaps"; bad = 1 }
        printf "shipped: %d error lines, %d audit lines\n", count["error"], count["audit"]
        exit bad
    }' "$work/shipped.log" || { echo "FAILED: the shipped log does not hold every line exactly once in order"; exit 1; }
echo "every line shipped exactly once, in order per thread"
