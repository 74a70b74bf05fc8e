#!/usr/bin/env python3
"""Runs the benchmark programs side by side and prints one table of figures and ratios.

Full form (scripts/bench.sh): starts its own nginx on loopback (TLS with the sandbox's test CA,
pre-compressed gzip, keep-alive) serving sandbox-made order books at the paths the library asks
for, and compares the library with the curl command line, simdjson and std::from_chars.
Short form (--short, a CTest test): a few iterations against the test sandbox already running,
no thresholds: it proves that every part still runs and prints the table.
"""

import argparse
import gzip
import json
import os
import shutil
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SANDBOX = os.path.join(REPO, "sandbox", "k5_sandbox.py")
WINE_RUN = os.path.join(REPO, "scripts", "wine-run.sh")
NGINX_PORT = 47941  # bench/deployment.cmake points every environment here


def run(cmd, env=None, timeout=3600):
    out = subprocess.run(cmd, env=env, check=True, capture_output=True, text=True, timeout=timeout)
    return out.stdout


def last_json(text):
    for line in reversed(text.strip().splitlines()):
        if line.startswith("{"):
            return json.loads(line)
    raise RuntimeError("no figures in: " + text)


def make_replies(data, sizes):
    os.makedirs(data, exist_ok=True)
    for n in sizes:
        path = os.path.join(data, f"orderBook-{n}.json")
        if not os.path.exists(path):
            body = subprocess.run([sys.executable, SANDBOX, "book", "orderBook", f"SIZE_{n}"],
                                  check=True, capture_output=True).stdout
            with open(path, "wb") as f:
                f.write(body)


class Nginx:
    """nginx on loopback serving the replies as static files, gzip pre-compressed."""

    def __init__(self, work, pki, data, sizes):
        self.dir = os.path.join(work, "nginx")
        shutil.rmtree(self.dir, ignore_errors=True)
        www = os.path.join(self.dir, "www")
        for n in sizes:
            folder = os.path.join(www, "v3", "instruments", f"SIZE_{n}")
            os.makedirs(folder)
            with open(os.path.join(data, f"orderBook-{n}.json"), "rb") as f:
                body = f.read()
            with open(os.path.join(folder, "orderBook"), "wb") as f:
                f.write(body)
            with open(os.path.join(folder, "orderBook.gz"), "wb") as f:
                f.write(gzip.compress(body, compresslevel=6, mtime=0))
        for sub in ("temp",):
            os.makedirs(os.path.join(self.dir, sub))
        self.log = os.path.join(self.dir, "access.log")
        self.conf = os.path.join(self.dir, "nginx.conf")
        with open(self.conf, "w") as f:
            f.write(f"""
worker_processes 1;
daemon on;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log;
events {{ worker_connections 256; }}
http {{
  log_format k5 '$connection $http_user_agent';
  access_log {self.log} k5;
  client_body_temp_path {self.dir}/temp;
  proxy_temp_path {self.dir}/temp;
  fastcgi_temp_path {self.dir}/temp;
  uwsgi_temp_path {self.dir}/temp;
  scgi_temp_path {self.dir}/temp;
  default_type application/json;
  gzip_static on;
  keepalive_timeout 120s;
  keepalive_requests 1000000;
  server {{
    listen 127.0.0.1:{NGINX_PORT} ssl;
    listen [::1]:{NGINX_PORT} ssl;
    server_name localhost;
    ssl_certificate {pki}/server.pem;
    ssl_certificate_key {pki}/server.key;
    root {www};
  }}
}}
""")
        # The workers run as nobody: they must reach the files.
        for root, dirs, files in os.walk(self.dir):
            os.chmod(root, 0o755)
            for name in files:
                os.chmod(os.path.join(root, name), 0o644)
        run(["nginx", "-c", self.conf, "-p", self.dir, "-e", os.path.join(self.dir, "error.log")])
        for _ in range(100):
            if os.path.exists(os.path.join(self.dir, "nginx.pid")):
                break
            time.sleep(0.05)

    def stop(self):
        subprocess.run(["nginx", "-c", self.conf, "-p", self.dir, "-e",
                        os.path.join(self.dir, "error.log"), "-s", "stop"], check=False)

    def mark(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def connections(self, since):
        with open(self.log, "rb") as f:
            f.seek(since)
            lines = f.read().decode(errors="replace").splitlines()
        return len({line.split(" ", 1)[0] for line in lines if line})


def curl_run(url, count, ca, token):
    """One curl invocation fetching `url` `count` times: wall seconds and minor faults."""
    cmd = ["curl", "-s", "--fail", "--compressed", "--cacert", ca,
           "-H", f"Authorization: Bearer {token}"]
    for _ in range(count):
        cmd += ["-o", "/dev/null", url]
    start = time.perf_counter()
    proc = subprocess.Popen(cmd)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        raise RuntimeError(f"curl failed ({status}) for {url}")
    return wall, usage.ru_minflt


def curl_per_request(url, n, ca, token):
    """The cost of one more request within one invocation: (T(2n) - T(n)) / n, so start-up and
    the TLS handshake do not count, as they do not for the library after its first request."""
    # The fastest of five runs of each length: on a shared machine the slow runs are the noise.
    once = min(curl_run(url, n, ca, token) for _ in range(5))
    twice = min(curl_run(url, 2 * n, ca, token) for _ in range(5))
    return (twice[0] - once[0]) * 1000 / n, (twice[1] - once[1]) / n


def google_benchmark(binary, data, short):
    cmd = [binary, "--benchmark_format=json"]
    if short:
        cmd += ["--benchmark_min_time=0.001", "--benchmark_filter=/(0|512|1000|10000)$|MetaData"]
    else:
        cmd += ["--benchmark_repetitions=5"]
    env = dict(os.environ, K5_BENCH_DATA=data)
    result = json.loads(run(cmd, env=env))
    figures = {}
    for b in result["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
        # CPU time, the least of the repetitions: the machine is shared, these loops are
        # single-threaded and CPU-bound, and other work only ever makes them slower.
        value = b["cpu_time"] * scale  # microseconds
        figures[name] = min(value, figures.get(name, value))
        for counter in ("bookdata_us", "from_chars_us"):
            if counter in b:
                figures[counter] = min(b[counter], figures.get(counter, b[counter]))
    return figures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="native build's bin folder")
    ap.add_argument("--work", required=True)
    ap.add_argument("--short", action="store_true")
    ap.add_argument("--pki", help="the sandbox's certificates (full form: nginx uses server.pem)")
    ap.add_argument("--ca", help="CA file for curl")
    ap.add_argument("--host", help="a running server (short form: the sandbox); else own nginx")
    ap.add_argument("--token", default="bench-token")
    ap.add_argument("--win32", action="append", default=[],
                    help="label=folder of a 32-bit Windows build holding k5_fetch_bench.exe")
    args = ap.parse_args()

    sizes = [1000, 10000] if args.short else [1000, 10000, 100000]
    data = os.path.join(args.work, "data")
    make_replies(data, sizes)
    ca = args.ca or os.path.join(args.pki, "ca.pem")
    nginx = None
    host = args.host
    if host is None:
        nginx = Nginx(args.work, args.pki, data, sizes)
        host = f"https://localhost:{NGINX_PORT}"
    env = dict(os.environ, K5_BENCH_TOKEN=args.token)
    fetch = os.path.join(args.bin, "k5_fetch_bench")
    rows = []  # (measure, k5 figure, reference figure, ratio text, goal)
    goals = []

    def row(measure, mine, ref, ratio=None, goal=""):
        rows.append((measure, mine, ref, "" if ratio is None else f"{ratio:.2f}x", goal))

    try:
        requests = {1000: 200, 10000: 100, 100000: 30}
        if args.short:
            requests = {1000: 4, 10000: 2}
        for n in sizes:
            url = f"{host}/v3/instruments/SIZE_{n}/orderBook"
            r = requests[n]
            mark = nginx.mark() if nginx else 0
            # The fastest of three runs, as for curl.
            seq = min((last_json(run([fetch, "fetch", f"SIZE_{n}", str(r), "1"], env=env))
                       for _ in range(1 if args.short else 3)),
                      key=lambda figures: figures["ms_per_request"])
            seq_conns = nginx.connections(mark) if nginx else None
            mark = nginx.mark() if nginx else 0
            par = last_json(run([fetch, "fetch", f"SIZE_{n}", str(r), "4"], env=env))
            par_conns = nginx.connections(mark) if nginx else None
            mark = nginx.mark() if nginx else 0
            curl_ms, curl_faults = curl_per_request(url, r, ca, args.token)
            curl_conns = nginx.connections(mark) if nginx else None
            ratio = seq["ms_per_request"] / curl_ms if curl_ms > 0 else float("nan")
            goal = "<= 1.5x" if n == 10000 else ""
            row(f"OrderBook {n} buckets: ms/request (curl CLI)", f"{seq['ms_per_request']:.3f}",
                f"{curl_ms:.3f}", ratio, goal)
            fault_ratio = seq["faults_per_request"] / max(curl_faults, 0.01)
            row(f"OrderBook {n} buckets: page faults/request (curl CLI)",
                f"{seq['faults_per_request']:.1f}", f"{curl_faults:.1f}", fault_ratio,
                "<= 2x" if n == 10000 else "")
            row(f"OrderBook {n} buckets: ms/request, 4 threads (sequential)",
                f"{par['ms_per_request']:.3f}", f"{seq['ms_per_request']:.3f}",
                par["ms_per_request"] / seq["ms_per_request"], "")
            if nginx:
                row(f"OrderBook {n} buckets: TCP connections, 3 runs / 4 threads (10 curl runs)",
                    f"{seq_conns} / {par_conns}", f"{curl_conns}", None, "")
            if n == 10000:
                goals.append(("OrderBook 10,000 buckets vs curl", ratio, 1.5, "<="))
                goals.append(("page faults per request vs curl", fault_ratio, 2.0, "<="))

        gb = google_benchmark(os.path.join(args.bin, "k5_mapping_bench"), data, args.short)
        for n in sizes:
            mine, ref = gb.get(f"BM_MapK5/{n}"), gb.get(f"BM_MapSimdjson/{n}")
            if mine and ref:
                speed = ref / mine
                row(f"mapping {n} buckets: us (simdjson on-demand); ratio = speed", f"{mine:.1f}",
                    f"{ref:.1f}", speed, ">= 0.75x" if n == 10000 else "")
                if n == 10000:
                    goals.append(("mapping speed vs simdjson", speed, 0.75, ">="))
        data_us, chars_us = gb.get("bookdata_us"), gb.get("from_chars_us")
        if data_us and chars_us:
            row("_BookData 10000 buckets: us, least of many, in turns (std::from_chars)",
                f"{data_us:.1f}", f"{chars_us:.1f}",
                data_us / chars_us, "<= 1.2x")
            goals.append(("_BookData vs std::from_chars", data_us / chars_us, 1.2, "<="))
        sz512, sz0 = gb.get("BM_Sz/512"), gb.get("BM_Sz/0")
        if sz512 and sz0:
            guard_ns = (sz512 - sz0) * 1000
            row("_Sz: ns with 512-unit err (null err)", f"{sz512 * 1000:.0f}", f"{sz0 * 1000:.0f}",
                None, "guard <= 50 ns")
            goals.append(("call guard, 512-unit err: added ns", guard_ns, 50, "<="))
        if gb.get("BM_MetaData"):
            row("_MetaData: ns with 512-unit err", f"{gb['BM_MetaData'] * 1000:.0f}", "", None, "")

        for n in ([10000] if args.short else [10000, 100000]):
            store = last_json(run([fetch, "store", f"SIZE_{n}", "2" if args.short else "5"], env=env))
            row(f"stored book {n} buckets: heap bytes/bucket, native", f"{store['bytes_per_bucket']:.1f}",
                "", None, "<= 96" if n == 10000 else "")
            if n == 10000:
                goals.append(("stored bytes per bucket, native", store["bytes_per_bucket"], 96, "<="))

        for spec in args.win32:
            label, folder = spec.split("=", 1)
            exe = os.path.join(folder, "k5_fetch_bench.exe")
            store = last_json(run([WINE_RUN, exe, "store", "SIZE_10000", "5"], env=env))
            row(f"stored book 10000 buckets: heap bytes/bucket, 32-bit DLL ({label})",
                f"{store['bytes_per_bucket']:.1f}", "", None, "<= 64")
            goals.append((f"stored bytes per bucket, 32-bit ({label})", store["bytes_per_bucket"],
                          64, "<="))
            cpu = last_json(run([WINE_RUN, exe, "cpu", "Z:" + os.path.join(data, "orderBook-10000.json"),
                                 "SIZE_10000", "40"], env=env))
            row(f"32-bit ({label}) mapping 10000: us, least of 40", f"{cpu['map_us']:.0f}", "",
                None, "")
            row(f"32-bit ({label}) _BookData 10000: us, least of 40 (std::from_chars)",
                f"{cpu['bookdata_us']:.0f}", f"{cpu['from_chars_us']:.0f}",
                cpu["bookdata_us"] / cpu["from_chars_us"], "")
    finally:
        if nginx:
            nginx.stop()

    print("=== k5-mkview benchmark" + (" (short form: figures mean nothing)" if args.short else ""))
    print(f"machine: {os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} at the end")
    headers = ("measure (reference)", "k5-mkview", "reference", "ratio", "goal")
    widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(5)]
    line = "  ".join(h.ljust(w) for h, w in zip(headers, widths))
    print(line)
    print("-" * len(line))
    for r in rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)))
    print()
    for name, value, limit, sense in goals:
        met = value <= limit if sense == "<=" else value >= limit
        print(f"goal {name}: {value:.2f} (goal {sense} {limit}) {'met' if met else 'NOT met'}")


if __name__ == "__main__":
    main()
