#!/usr/bin/python3
"""Local stand-in for the Tervik k5 REST service.

Serves order books, position books and the token endpoint over HTTPS on loopback, one port per
environment of a deployment file, with faults selected by instrument name (and by authorization
code for the token endpoint). Standard library only; certificates come from the openssl command.

Commands:
  serve --deployment F --pki DIR [--state DIR]   run in the foreground until SIGTERM/SIGINT
  start --deployment F --pki DIR --state DIR     run detached, wait until every port listens
  stop  --state DIR                              stop a detached sandbox
  pki   --pki DIR                                only create (or reuse) the certificates
  book  KIND INSTRUMENT [TIME]                   print the body a book request would get
"""

import argparse
import calendar
import contextlib
import fcntl
import gzip
import hashlib
import http.server
import json
import math
import os
import random
import re
import secrets
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

ENVIRONMENTS = ("dev", "staging_practice", "staging_trade", "practice", "trade")
BOOK_KINDS = ("orderBook", "positionBook")
DEFAULT_TIME = "2026-12-11T10:00:00Z"
MAX_SIZE_BUCKETS = 100000
MAX_REQUEST_BODY = 1 << 20
HANDSHAKE_TIMEOUT = 10.0
IDLE_TIMEOUT = 60.0
SLOW_DELAY = 2.0
RESET_DELAY = 0.2  # lets a reply's first half reach the client before the reset discards the rest
MAX_STREAM_BYTES = 1 << 30  # the most a sized fault sends or pads to
STREAM_PIECE = 1 << 16
BOMB_BYTES = 1 << 30  # what FAULT_BOMB inflates to
START_TIMEOUT = 20.0
STOP_TIMEOUT = 10.0
READY_PREFIX = "k5 sandbox ready:"
BOOK_PATH = re.compile(r"^/v3/instruments/([^/]+)/(orderBook|positionBook)$")
TOKEN_PATH = "/v1/oauth2/access_token"
STATS_PATH = "/_sandbox/stats"

UNAUTHORIZED = {"errorMessage": "Insufficient authorization to perform request."}
BAD_INSTRUMENT = {"errorMessage": "Invalid value specified for 'instrument'"}


# ---------------------------------------------------------------------------------------------
# Deployment file

_SET_LINE = re.compile(r'^\s*set\(\s*([A-Za-z0-9_]+)\s+"((?:[^"\\]|\\.)*)"\s*\)')
_HOST_VALUE = re.compile(r"^https://[^/:]+:(\d{1,5})/?$")


class DeploymentError(Exception):
    pass


def read_deployment(path):
    """Returns {"redirect_uri": ..., "envs": {env: {"port", "client_id", "client_secret"}}}."""
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = _SET_LINE.match(line)
            if m:
                values[m.group(1)] = re.sub(r"\\(.)", r"\1", m.group(2))

    def need(name):
        if name not in values:
            raise DeploymentError(f"{path}: {name} is not set")
        return values[name]

    envs = {}
    for env in ENVIRONMENTS:
        prefix = "K5_ENV_" + env.upper() + "_"
        host = need(prefix + "HOST")
        m = _HOST_VALUE.match(host)
        if not m or not 0 < int(m.group(1)) < 65536:
            raise DeploymentError(f"{path}: {prefix}HOST must look like https://localhost:PORT, got {host!r}")
        envs[env] = {
            "port": int(m.group(1)),
            "client_id": need(prefix + "CLIENT_ID"),
            "client_secret": need(prefix + "CLIENT_SECRET"),
        }
    ports = [e["port"] for e in envs.values()]
    if len(set(ports)) != len(ports):
        raise DeploymentError(f"{path}: environments must use distinct ports")
    return {"redirect_uri": need("K5_REDIRECT_URI"), "envs": envs}


# ---------------------------------------------------------------------------------------------
# Certificates

PKI_FILES = ("ca.pem", "ca.key", "server.pem", "server.key", "dev.pem", "dev.key")

_OPENSSL_CONFIG = """\
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
[dev_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
"""


def _openssl(*args, cwd):
    try:
        r = subprocess.run(["openssl", *args], cwd=cwd, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=60)
    except FileNotFoundError:
        raise RuntimeError("the openssl command is needed to make the sandbox certificates") from None
    if r.returncode != 0:
        raise RuntimeError(f"openssl {args[0]} failed: {r.stderr.strip()}")
    return r.stdout


def _serial():
    # Random serials: a client that caches certificates by issuer+serial must not mix up two PKIs.
    return "0x" + format(secrets.randbits(120) | (1 << 119), "x")


def _pki_is_sound(d):
    if not all(os.path.isfile(os.path.join(d, n)) for n in PKI_FILES):
        return False
    try:
        _openssl("verify", "-CAfile", "ca.pem", "server.pem", cwd=d)
        for pem in ("ca.pem", "dev.pem"):  # still valid for a day at least
            _openssl("x509", "-in", pem, "-noout", "-checkend", "86400", cwd=d)
    except RuntimeError:
        return False
    return True


def ensure_pki(pki_dir, lock_timeout=120.0):
    """Creates the test CA, the server certificate it signs and the untrusted Dev certificate,
    unless pki_dir already holds a sound set. Reuses a sound set so a trust store made from
    ca.pem once stays valid. Concurrent callers are serialised by a lock file and files appear
    by rename only, so a reader never sees a half-written file."""
    pki_dir = os.path.abspath(pki_dir)
    if _pki_is_sound(pki_dir):  # the usual case; needs no write access
        return pki_dir
    os.makedirs(pki_dir, exist_ok=True)
    with open(os.path.join(pki_dir, ".lock"), "w") as lock:
        deadline = time.monotonic() + lock_timeout
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise RuntimeError(f"{pki_dir} stays locked by another sandbox") from None
                time.sleep(0.05)
        if _pki_is_sound(pki_dir):
            return pki_dir
        tmp = tempfile.mkdtemp(prefix=".new-", dir=pki_dir)
        try:
            _make_pki(tmp, pki_dir)
            # ca.pem last: its appearance means the whole set is in place.
            for name in ("ca.key", "server.key", "server.pem", "dev.key", "dev.pem", "ca.pem"):
                src = os.path.join(tmp, name)
                if os.path.exists(src):
                    os.replace(src, os.path.join(pki_dir, name))
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
    return pki_dir


def _make_pki(tmp, existing):
    with open(os.path.join(tmp, "openssl.cnf"), "w") as f:
        f.write(_OPENSSL_CONFIG)
    key_args = ("-newkey", "rsa:2048", "-nodes", "-sha256", "-config", "openssl.cnf")
    ca_ok = False
    if all(os.path.isfile(os.path.join(existing, n)) for n in ("ca.pem", "ca.key")):
        try:  # keep a CA that is still good so trust stores made from it keep working
            _openssl("x509", "-in", os.path.join(existing, "ca.pem"), "-noout", "-checkend", "86400", cwd=tmp)
            shutil.copyfile(os.path.join(existing, "ca.pem"), os.path.join(tmp, "ca.pem.reused"))
            shutil.copyfile(os.path.join(existing, "ca.key"), os.path.join(tmp, "ca.key.reused"))
            ca_ok = True
        except RuntimeError:
            pass
    if ca_ok:
        ca_pem, ca_key = "ca.pem.reused", "ca.key.reused"
    else:
        _openssl("req", "-x509", *key_args, "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650",
                 "-subj", "/CN=k5 sandbox test CA", "-extensions", "ca_ext", "-set_serial", _serial(), cwd=tmp)
        ca_pem, ca_key = "ca.pem", "ca.key"
    _openssl("req", "-new", *key_args, "-keyout", "server.key", "-out", "server.csr",
             "-subj", "/CN=localhost", cwd=tmp)
    _openssl("x509", "-req", "-in", "server.csr", "-CA", ca_pem, "-CAkey", ca_key,
             "-set_serial", _serial(), "-days", "3650", "-sha256",
             "-extfile", "openssl.cnf", "-extensions", "server_ext", "-out", "server.pem", cwd=tmp)
    _openssl("req", "-x509", *key_args, "-keyout", "dev.key", "-out", "dev.pem", "-days", "3650",
             "-subj", "/CN=localhost/O=k5 sandbox dev (untrusted)", "-extensions", "dev_ext",
             "-set_serial", _serial(), cwd=tmp)


# ---------------------------------------------------------------------------------------------
# Books

# (price, bucketWidth) as text: the number of decimals in the text is the instrument's precision.
_KNOWN_MARKETS = {
    "EUR_USD": ("1.10250", "0.00050"),
    "USD_JPY": ("109.500", "0.050"),
    "GBP_USD": ("1.27000", "0.00050"),
    "XAU_USD": ("2000.00", "0.50"),
}

# Unknown instruments fall into one of these families: (decimals, width units, low units, high units).
_FAMILIES = (
    (5, 50, 50000, 200000),    # currency pairs, 0.50000 .. 2.00000 in steps of 0.00050
    (5, 50, 50000, 200000),
    (3, 50, 80000, 200000),    # yen-like pairs, 80.000 .. 200.000 in steps of 0.050
    (2, 50, 10000, 500000),    # metals, 100.00 .. 5000.00 in steps of 0.50
    (1, 50, 50000, 400000),    # indices, 5000.0 .. 40000.0 in steps of 5.0
)


def _stable_int(*parts):
    # Python's hash() is salted per process; books must be identical across runs and processes.
    data = "\x1f".join(parts).encode("utf-8", "surrogatepass")
    return int.from_bytes(hashlib.sha256(data).digest()[:8], "big")


def _units(text):
    whole, _, frac = text.partition(".")
    return int(whole + frac), len(frac)


def _fmt(units, decimals):
    sign = "-" if units < 0 else ""
    units = abs(units)
    if decimals == 0:
        return sign + str(units)
    return f"{sign}{units // 10 ** decimals}.{units % 10 ** decimals:0{decimals}d}"


def _market(instrument):
    """Market price and bucket width of an instrument, in integer units of its precision."""
    if instrument in _KNOWN_MARKETS:
        price, width = _KNOWN_MARKETS[instrument]
        (p, decimals), (w, _) = _units(price), _units(width)
        return p, w, decimals
    h = _stable_int("market", instrument)
    pair = re.fullmatch(r"([A-Z]{3})_([A-Z]{3})", instrument)
    if pair and pair.group(1) in ("XAU", "XAG", "XPT", "XPD"):
        family = _FAMILIES[3]
    elif pair and pair.group(2) == "JPY":
        family = _FAMILIES[2]
    elif pair:
        family = _FAMILIES[0]
    else:
        family = _FAMILIES[h % len(_FAMILIES)]
    decimals, w, lo, hi = family
    p = lo + (h >> 8) % (hi - lo)
    return p, w, decimals


def _bucket_count(instrument):
    m = re.fullmatch(r"SIZE_(\d+)", instrument)
    if m:
        return int(m.group(1))
    return 5 + _stable_int("buckets", instrument) % 296


_ISO_TIME = re.compile(r"^(\d{4})-(\d{2})-(\d{2})[Tt ](\d{2}):(\d{2}):(\d{2})(?:\.\d+)?(Z|z|[+-]\d{2}:?\d{2})?$")


def unix_time(time_text):
    """Seconds since the epoch for an RFC 3339 style time, or None if the text is not one."""
    m = _ISO_TIME.match(time_text)
    if not m:
        return None
    y, mo, d, hh, mm, ss = (int(g) for g in m.groups()[:6])
    if not (1 <= mo <= 12 and 1 <= d <= 31 and hh < 24 and mm < 60 and ss < 61):
        return None
    t = calendar.timegm((y, mo, d, hh, mm, ss, 0, 0, 0))
    zone = m.group(7)
    if zone and zone[0] in "+-":
        z = zone[1:].replace(":", "")
        offset = int(z[:2]) * 3600 + int(z[2:]) * 60
        t -= offset if zone[0] == "+" else -offset
    return t


_DEFAULT_UNIX = unix_time(DEFAULT_TIME)


def _percent_units(weights):
    """Splits 100.0000 percent (1,000,000 units of 0.0001) over weights by largest remainder,
    so the printed percentages add up to exactly 100."""
    if not weights:
        return []
    total = sum(weights)
    exact = [w * 1000000 / total for w in weights]
    units = [int(e) for e in exact]
    short = 1000000 - sum(units)
    for i in sorted(range(len(exact)), key=lambda i: (units[i] - exact[i], i))[:short]:
        units[i] += 1
    return units


def _percent_text(u):
    return f"{u // 10000}.{u % 10000:04d}"


def make_book(kind, instrument, time_text=None):
    """The book a request for kind ("orderBook"/"positionBook") and instrument gets; time_text is
    the ?time= text (None: not given). Deterministic: same arguments, same values."""
    if kind not in BOOK_KINDS:
        raise ValueError(f"kind must be one of {BOOK_KINDS}, got {kind!r}")
    time_given = time_text is not None
    time_text = time_text if time_given else DEFAULT_TIME
    price, width, decimals = _market(instrument)
    n = _bucket_count(instrument)
    ut = unix_time(time_text)
    rng = random.Random(_stable_int("book", kind, instrument, time_text))

    centre = price - price % width
    start = centre - (n // 2) * width
    if start <= 0:  # huge synthetic books would reach zero; keep every bucket price positive
        start = width
    # Order books crowd closer to the price than position books; round prices attract orders.
    spread = max(1.0, n / (7.0 if kind == "orderBook" else 4.0))
    longs, shorts = [], []
    for i in range(n):
        p = start + i * width
        d = (p - price) / (width * spread)
        g = math.exp(-0.5 * d * d) + 0.002
        if kind == "orderBook" and p % (width * 10) == 0:
            g *= 1.6
        skew = math.tanh(d)
        longs.append(g * (1.0 - 0.35 * skew) * (0.6 + 0.8 * rng.random()))
        shorts.append(g * (1.0 + 0.35 * skew) * (0.6 + 0.8 * rng.random()))
    long_units, short_units = _percent_units(longs), _percent_units(shorts)
    buckets = [
        {"price": _fmt(start + i * width, decimals),
         "longCountPercent": _percent_text(long_units[i]),
         "shortCountPercent": _percent_text(short_units[i])}
        for i in range(n)
    ]
    return {
        "instrument": instrument,
        "time": time_text,
        "unixTime": str(ut if ut is not None else _DEFAULT_UNIX),
        "price": _fmt(price, decimals),
        "bucketWidth": _fmt(width, decimals),
        "buckets": buckets,
    }


def to_json(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def book_body(kind, instrument, time_text=None):
    """The exact bytes a normal book reply carries (before content encoding)."""
    return _cached_body(kind, instrument, time_text, None)


_cache_lock = threading.Lock()
_cache = {}
_CACHE_LIMIT = 64 << 20  # bytes kept; big SIZE_ books are expensive to build and compress


def _cached_body(kind, instrument, time_text, encoding):
    key = (kind, instrument, time_text, encoding)
    with _cache_lock:
        hit = _cache.pop(key, None)
        if hit is not None:
            _cache[key] = hit  # most recently used last
            return hit
    if encoding is None:
        body = to_json({kind: make_book(kind, instrument, time_text)})
    else:
        body = encode_body(_cached_body(kind, instrument, time_text, None), encoding)
    with _cache_lock:
        _cache[key] = body
        while sum(len(v) for v in _cache.values()) > _CACHE_LIMIT and len(_cache) > 1:
            _cache.pop(next(iter(_cache)))
    return body


# ---------------------------------------------------------------------------------------------
# Content encodings

def encode_body(body, encoding):
    if encoding == "gzip":
        return gzip.compress(body, compresslevel=6, mtime=0)
    if encoding == "deflate":
        return zlib.compress(body, 6)
    if encoding == "rawdeflate":
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        return c.compress(body) + c.flush()
    return body


def negotiate_encoding(accept_encoding):
    """gzip if acceptable, else deflate, else identity (None)."""
    if not accept_encoding:
        return None
    q = {}
    for part in accept_encoding.split(","):
        token, *params = part.split(";")
        token = token.strip().lower()
        if token == "x-gzip":
            token = "gzip"
        weight = 1.0
        for p in params:
            k, _, v = p.partition("=")
            if k.strip().lower() == "q":
                try:
                    weight = float(v.strip())
                except ValueError:
                    weight = 0.0
        if token:
            q[token] = weight
    for enc in ("gzip", "deflate"):
        if q.get(enc, q.get("*", 0.0)) > 0:
            return enc
    return None


# A gzip header that promises deflate data, followed by bytes whose first block type is the
# reserved value 3, so every inflater must reject it.
BAD_GZIP = (b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff" + b"\xff\xfe\xfd\xfc"
            + hashlib.sha256(b"k5 sandbox bad gzip").digest() + b"\x00" * 8)


_MiB = 1 << 20


def gzip_bomb(decoded_size):
    """A gzip stream that inflates to decoded_size zero bytes (a whole number of MiB). Deflating a
    GiB takes seconds, so one MiB is deflated and its bytes repeated: after a full flush deflate
    forgets everything it has seen, and every further MiB of zeros compresses to the same bytes.
    The trailer's CRC and size are those of the whole."""
    if decoded_size <= 0 or decoded_size % _MiB:
        raise ValueError("decoded_size must be a positive multiple of 1 MiB")
    block = bytes(_MiB)
    c = zlib.compressobj(9, zlib.DEFLATED, 16 + 15)
    first = c.compress(block) + c.flush(zlib.Z_FULL_FLUSH)
    repeated = c.compress(block) + c.flush(zlib.Z_FULL_FLUSH)
    last_block = c.flush()[:-8]  # the final empty block; the trailer follows
    blocks = decoded_size // _MiB
    crc = 0
    for _ in range(blocks):
        crc = zlib.crc32(block, crc)
    return first + repeated * (blocks - 1) + last_block + struct.pack("<II", crc, decoded_size & 0xFFFFFFFF)


_bomb_lock = threading.Lock()
_bomb = None


def _cached_bomb():
    global _bomb
    with _bomb_lock:  # built once per sandbox run, on first use
        if _bomb is None:
            _bomb = gzip_bomb(BOMB_BYTES)
        return _bomb


def padded_body(kind, instrument, time_text, size, encoding):
    """The normal book followed by spaces up to exactly size bytes, in the given encoding (None:
    as it is), or None if the book alone is longer. Encoded piece by piece, so a padding of a
    gigabyte is never held whole."""
    book = book_body(kind, instrument, time_text)
    if size < len(book):
        return None
    if encoding is None:
        return book + b" " * (size - len(book))
    wbits = {"gzip": 16 + 15, "deflate": 15, "rawdeflate": -15}[encoding]
    c = zlib.compressobj(6, zlib.DEFLATED, wbits)
    parts = [c.compress(book)]
    spaces = b" " * _MiB
    left = size - len(book)
    while left > 0:
        parts.append(c.compress(spaces[:min(left, len(spaces))]))
        left -= len(spaces)
    parts.append(c.flush())
    return b"".join(parts)


# ---------------------------------------------------------------------------------------------
# Shared state

class SandboxState:
    def __init__(self, deployment, log_path=None):
        self.deployment = deployment
        self._lock = threading.Lock()
        self._next_conn = 0
        self.connections = {env: 0 for env in ENVIRONMENTS}
        self.requests = {env: 0 for env in ENVIRONMENTS}
        self._issued = {env: set() for env in ENVIRONMENTS}
        self.refused_port = None  # a loopback port that refuses connections (FAULT_REFUSED)
        self._log = open(log_path, "w", encoding="ascii") if log_path else None

    def new_connection(self, env):
        with self._lock:
            self._next_conn += 1
            self.connections[env] += 1
            return self._next_conn

    def new_request(self, env):
        with self._lock:
            self.requests[env] += 1
            return self.requests[env], self.connections[env]

    def stats(self):
        with self._lock:
            return {"connections": dict(self.connections), "requests": dict(self.requests)}

    def issue(self, env, token):
        with self._lock:
            self._issued[env].add(token)

    def accepts(self, env, token):
        if token == f"sandbox-{env}-token":
            return True
        with self._lock:
            return token in self._issued[env]

    def log(self, entry):
        if self._log is None:
            return
        line = json.dumps(entry, ensure_ascii=True, separators=(",", ":")) + "\n"
        with self._lock:
            if self._log is not None:  # a straggling connection may outlive close()
                self._log.write(line)
                self._log.flush()

    def close(self):
        with self._lock:
            if self._log is not None:
                self._log.close()
                self._log = None


# ---------------------------------------------------------------------------------------------
# HTTP

class _EnvServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, env, port, ssl_context, state):
        self.env = env
        self.port = port
        self.ssl_context = ssl_context
        self.state = state
        super().__init__(("127.0.0.1", port), _Handler)

    def server_bind(self):
        # HTTPServer would look up the host's FQDN here, which can stall on a misconfigured resolver.
        socketserver.TCPServer.server_bind(self)
        self.server_name = "localhost"
        self.server_port = self.port

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, in the connection's own thread, so a stalled client cannot
        # hold up accept() for everybody else.
        request.settimeout(HANDSHAKE_TIMEOUT)
        # Headers and body leave in separate writes; without this, Nagle plus the client's delayed
        # ACK adds ~40 ms to every reply on a kept-alive connection.
        with contextlib.suppress(OSError):
            request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            if not request.recv(1, socket.MSG_PEEK):
                return  # connected and left without a byte: a readiness probe, not a client
        except OSError:
            return
        try:
            tls = self.ssl_context.wrap_socket(request, server_side=True)
        except (OSError, ValueError) as e:
            self.state.log({"event": "tls_failed", "env": self.env, "port": self.port,
                            "peer": f"{client_address[0]}:{client_address[1]}", "error": str(e)})
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except (OSError, ValueError):
            pass  # the client went away mid-exchange; nothing to answer
        finally:
            with contextlib.suppress(OSError):
                tls.close()


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "k5-sandbox/1"
    timeout = IDLE_TIMEOUT

    def setup(self):
        super().setup()
        srv = self.server
        self.conn_id = srv.state.new_connection(srv.env)
        self.seq_on_conn = 0
        srv.state.log({"event": "connection", "env": srv.env, "port": srv.port, "conn": self.conn_id,
                       "peer": f"{self.client_address[0]}:{self.client_address[1]}"})

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):
        pass  # requests.jsonl records every request

    def log_error(self, format, *args):
        sys.stderr.write(f"k5 sandbox [{self.server.env}] {format % args}\n")

    def do_GET(self):
        self._serve()

    do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_GET

    def do_HEAD(self):
        self._serve()

    # -- request --------------------------------------------------------------------------

    def _read_body(self):
        """The body bytes, or None if unusable (then _body_error says how to answer, if at all)."""
        te = self.headers.get("Transfer-Encoding")
        cl = self.headers.get("Content-Length")
        if te is not None:
            if te.strip().lower() != "chunked" or cl is not None:
                return self._bad_body(501 if cl is None else 400, "Unsupported Transfer-Encoding")
            return self._read_chunked()
        if cl is None:
            return b""
        if not re.fullmatch(r"[0-9]{1,12}", cl.strip()):
            return self._bad_body(400, "Invalid Content-Length")
        n = int(cl)
        if n > MAX_REQUEST_BODY:
            return self._bad_body(413, "Request body too large")
        body = self.rfile.read(n)
        if len(body) != n:
            self.close_connection = True
            return None
        return body

    def _read_chunked(self):
        parts, total = [], 0
        while True:
            m = re.fullmatch(rb"([0-9A-Fa-f]{1,8})[ \t]*(;[^\r\n]*)?\r?\n", self.rfile.readline(1026))
            if not m:
                return self._bad_body(400, "Malformed chunk")
            size = int(m.group(1), 16)
            if size == 0:
                break
            total += size
            if total > MAX_REQUEST_BODY:
                return self._bad_body(413, "Request body too large")
            chunk = self.rfile.read(size)
            if len(chunk) != size or self.rfile.readline(3) not in (b"\r\n", b"\n"):
                return self._bad_body(400, "Malformed chunk")
            parts.append(chunk)
        for _ in range(100):  # trailers
            if self.rfile.readline(8194) in (b"\r\n", b"\n", b""):
                return b"".join(parts)
        return self._bad_body(400, "Too many trailers")

    def _bad_body(self, status, message):
        self._body_error = (status, message)
        return None

    def _serve(self):
        srv = self.server
        self.seq_on_conn += 1
        port_requests, port_connections = srv.state.new_request(srv.env)
        self._body_error = None
        body = self._read_body()
        words = self.requestline.split()
        target = words[1] if len(words) > 1 else ""  # self.path may have been tidied up
        headers = {}
        for name, value in self.headers.items():
            headers[name] = headers[name] + ", " + value if name in headers else value
        raw = body or b""
        srv.state.log({"event": "request", "env": srv.env, "port": srv.port, "conn": self.conn_id,
                       "seq_on_conn": self.seq_on_conn, "method": self.command, "target": target,
                       "headers": headers, "body": raw.decode("latin-1"),
                       "body_hex_prefix": raw[:8].hex(), "ts": round(time.time(), 6)})
        if body is None:
            self.close_connection = True
            if self._body_error:
                self._json(self._body_error[0], {"errorMessage": self._body_error[1]}, close=True)
            return

        path, sep, query = target.partition("?")
        if path.startswith(("http://", "https://")):  # absolute-form target
            path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
        m = BOOK_PATH.match(path)
        if m:
            if self.command != "GET":
                return self._method_not_allowed("GET")
            instrument = urllib.parse.unquote(m.group(1), errors="replace")
            ctx = {"kind": m.group(2), "instrument": instrument, "time": _query_time(query),
                   "query": sep + query, "port_requests": port_requests,
                   "port_connections": port_connections}
            return self._book(ctx)
        if path == TOKEN_PATH:
            if self.command != "POST":
                return self._method_not_allowed("POST")
            return self._token(body)
        if path == STATS_PATH:
            if self.command != "GET":
                return self._method_not_allowed("GET")
            return self._json(200, srv.state.stats())
        return self._json(404, {"errorMessage": f"No resource at {path}"})

    # -- replies --------------------------------------------------------------------------

    def _reply(self, status, body=b"", content_type="application/json", encoding="negotiate",
               headers=(), send_length=None, close=False):
        """encoding: "negotiate" (from Accept-Encoding), None (identity), or a name for encode_body
        whose bytes are already in body. send_length: bytes of body actually sent (a cut reply)."""
        content_encoding = None
        if encoding == "negotiate":
            enc = negotiate_encoding(self.headers.get("Accept-Encoding")) if body else None
            if enc:
                body = encode_body(body, enc)
                content_encoding = enc
        elif encoding:
            content_encoding = "deflate" if encoding == "rawdeflate" else encoding
        self.send_response(status)
        if status != 204:
            if body or content_type:
                self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        if content_encoding:
            self.send_header("Content-Encoding", content_encoding)
        self.send_header("Vary", "Accept-Encoding")
        for name, value in headers:
            self.send_header(name, value)
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD" and status != 204:
            self.wfile.write(body if send_length is None else body[:send_length])
        self.wfile.flush()

    def _json(self, status, value, **kw):
        self._reply(status, to_json(value), **kw)

    def _method_not_allowed(self, allowed):
        self._json(405, {"errorMessage": f"Method {self.command} not allowed here"},
                   headers=[("Allow", allowed)])

    def _authorized(self):
        value = self.headers.get("Authorization")
        if value is None:
            return False
        scheme, _, token = value.partition(" ")
        return scheme.lower() == "bearer" and token != "" and self.server.state.accepts(self.server.env, token)

    def _book(self, c):
        if not self._authorized():
            return self._json(401, UNAUTHORIZED)
        kind, instrument, t = c["kind"], c["instrument"], c["time"]
        if instrument.startswith("STATS_"):
            book = {"instrument": instrument, "time": str(c["port_requests"]),
                    "unixTime": str(_DEFAULT_UNIX), "price": str(self.seq_on_conn),
                    "bucketWidth": str(c["port_connections"]), "buckets": []}
            return self._json(200, {kind: book})
        if instrument.startswith("FAULT_"):
            name = instrument[len("FAULT_"):]
            fault = _FAULTS.get(name) or _sized_fault(name)
            if fault is None:
                return self._json(404, BAD_INSTRUMENT)
            return fault(self, c)
        size = re.fullmatch(r"SIZE_(\d+)", instrument)
        if size and int(size.group(1)) > MAX_SIZE_BUCKETS:
            return self._json(404, BAD_INSTRUMENT)
        enc = negotiate_encoding(self.headers.get("Accept-Encoding"))
        body = _cached_body(kind, instrument, t, enc)
        self._reply(200, body, encoding=enc)

    def _token(self, body):
        env = self.server.env
        conf = self.server.state.deployment["envs"][env]
        form = {}
        for part in body.decode("latin-1").split("&"):
            if part:
                key, _, value = part.partition("=")  # the client sends values as they are, unescaped
                if key in form:
                    return self._oauth(400, "invalid_grant", f"{key} given more than once")
                form[key] = value
        if form.get("client_id") != conf["client_id"]:
            return self._oauth(401, "invalid_client", "client_id is not this environment's")
        if form.get("client_secret") != conf["client_secret"]:
            return self._oauth(401, "invalid_client", "client_secret does not match")
        if form.get("grant_type") != "authorization_code":
            return self._oauth(400, "invalid_grant", "grant_type must be authorization_code")
        code = form.get("code", "")
        if not re.fullmatch(r"[0-9a-f]{32}", code):
            return self._oauth(400, "invalid_grant", "code must be 32 characters 0-9a-f")
        if form.get("redirect_uri") != self.server.state.deployment["redirect_uri"]:
            return self._oauth(400, "invalid_grant", "redirect_uri does not match")
        _, magic, exp = struct.unpack("<dii", bytes.fromhex(code))
        extra = [("Cache-Control", "no-store")]
        if exp == 401:
            return self._oauth(401, "invalid_client", "Client authentication failed")
        if exp == 400:
            return self._oauth(400, "invalid_grant", "Authorization code expired")
        if exp == 4010:
            return self._reply(401, b"", headers=extra)
        if exp == 2001:
            return self._json(200, {"token_type": "Bearer"}, headers=extra)
        if exp == 2002:
            return self._reply(200, b"", headers=extra)
        if exp == 2003:
            return self._reply(200, b"null", headers=extra)
        if exp == 2004:
            return self._reply(200, b'{"access_token": ', headers=extra)
        if exp == 4130:
            return _fault_chunked(min(max(magic, 0), MAX_STREAM_BYTES), status=400)(self, None)
        if exp == 5200:
            self.close_connection = True  # no reply at all
            return None
        if exp == 2005:
            self.server.state.issue(env, "bom-token")
            return self._reply(200, b"\xef\xbb\xbf" + to_json({"access_token": "bom-token"}), headers=extra)
        token = f"issued-{env}-{code}"
        self.server.state.issue(env, token)
        self._json(200, {"access_token": token, "token_type": "Bearer", "expires_in": 86400}, headers=extra)

    def _oauth(self, status, error, description):
        self._json(status, {"error": error, "error_description": description},
                   headers=[("Cache-Control", "no-store")])


def _query_time(query):
    for part in query.split("&"):
        key, eq, value = part.partition("=")
        if key == "time" and eq:
            return urllib.parse.unquote(value, errors="replace")  # '+' stays '+': it is not a form
    return None


# -- faults, by the name after FAULT_ ---------------------------------------------------------

def _fault_body(status, body, **kw):
    return lambda h, c: h._reply(status, body, **kw)


def _fault_json(status, value):
    return lambda h, c: h._json(status, value)


def _fault_envelope(member_text):
    return lambda h, c: h._reply(200, b'{"' + c["kind"].encode() + b'": ' + member_text + b"}")


def _fault_book(edit):
    def serve(h, c):
        book = make_book(c["kind"], c["instrument"], c["time"])
        edit(book)
        h._json(200, {c["kind"]: book})
    return serve


def _normal_body(c):
    return book_body(c["kind"], c["instrument"], c["time"])


def _fault_highbytes(h, c):
    book = make_book(c["kind"], c["instrument"], c["time"])
    book["instrument"] = "EUR\u20acUSD"
    book["time"] = "2019-12-23T15:00:00Z\u00e9"
    h._json(200, {c["kind"]: book})


def _fault_numbers(h, c):
    text = _normal_body(c).decode("utf-8")
    text = re.sub(r'"(price|bucketWidth|longCountPercent|shortCountPercent)":"([0-9.]+)"', r'"\1":\2', text)
    h._reply(200, text.encode("utf-8"))


def _fault_redirect(loop):
    def serve(h, c):
        host = h.headers.get("Host", "")
        if not re.fullmatch(r"[A-Za-z0-9.\-]+(:\d{1,5})?|\[[0-9A-Fa-f:.]+\](:\d{1,5})?", host):
            host = f"localhost:{h.server.port}"
        instrument = urllib.parse.quote(c["instrument"], safe="") if loop else "EUR_USD"
        location = f"https://{host}/v3/instruments/{instrument}/{c['kind']}{c['query']}"
        h._reply(302, b"", headers=[("Location", location)])
    return serve


def _fault_cut(h, c):
    enc = negotiate_encoding(h.headers.get("Accept-Encoding"))
    body = _cached_body(c["kind"], c["instrument"], c["time"], enc)
    h._reply(200, body, encoding=enc, send_length=len(body) // 2)
    h.close_connection = True  # no "Connection: close": the drop must come as a surprise


def _fault_cut_identity(h, c):
    body = _normal_body(c)
    h._reply(200, body, encoding=None, send_length=len(body) // 2)
    h.close_connection = True


def _fault_close(h, c):
    h.close_connection = True


def _reset(h):
    """Drops the connection with a TCP reset instead of an orderly close: with SO_LINGER 0,
    close() discards whatever is unsent and answers with RST."""
    with contextlib.suppress(OSError):
        h.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    h.rfile.close()  # the reader holds a reference that would keep close() from closing
    h.connection.close()
    h.close_connection = True


def _fault_reset_during(h, c):
    enc = negotiate_encoding(h.headers.get("Accept-Encoding"))
    body = _cached_body(c["kind"], c["instrument"], c["time"], enc)
    h._reply(200, body, encoding=enc, send_length=len(body) // 2)
    time.sleep(RESET_DELAY)
    _reset(h)


def _fault_refused(h, c):
    location = f"https://127.0.0.1:{h.server.state.refused_port}/v3/instruments/EUR_USD/{c['kind']}"
    h._reply(302, b"", headers=[("Location", location)])


def _send_spaces(h, n, chunked):
    piece = b" " * STREAM_PIECE
    while n > 0:
        k = min(n, len(piece))
        h.wfile.write(b"%x\r\n%s\r\n" % (k, piece[:k]) if chunked else piece[:k])
        n -= k
    if chunked:
        h.wfile.write(b"0\r\n\r\n")
    h.wfile.flush()


def _fault_length(n):
    """Declares n bytes of spaces, then sends them (a client that refuses the length has hung up
    long before)."""
    def serve(h, c):
        h.send_response(200)
        h.send_header("Content-Type", "application/json")
        h.send_header("Content-Length", str(n))
        h.end_headers()
        _send_spaces(h, min(n, MAX_STREAM_BYTES), chunked=False)
        if n > MAX_STREAM_BYTES:
            h.close_connection = True
    return serve


def _fault_chunked(n, status=200):
    def serve(h, c):
        h.send_response(status)
        h.send_header("Content-Type", "application/json")
        h.send_header("Transfer-Encoding", "chunked")
        h.end_headers()
        _send_spaces(h, n, chunked=True)
    return serve


def _fault_padded(n):
    def serve(h, c):
        enc = negotiate_encoding(h.headers.get("Accept-Encoding"))
        key = (c["kind"], c["instrument"], c["time"], enc)
        with _cache_lock:
            body = _padded_cache.get(key)
        if body is None:
            body = padded_body(*key[:3], n, enc)
            if body is None:
                return h._json(404, BAD_INSTRUMENT)
            with _cache_lock:  # the latest only: the next size asked for is usually another
                _padded_cache.clear()
                _padded_cache[key] = body
        h._reply(200, body, encoding=enc)
    return serve


_padded_cache = {}
_SIZED_FAULT = re.compile(r"(LENGTH|CHUNKED|PADDED)_([0-9]{1,19})")


def _sized_fault(name):
    """FAULT_LENGTH_<n>, FAULT_CHUNKED_<n>, FAULT_PADDED_<n>, or None for another name."""
    m = _SIZED_FAULT.fullmatch(name)
    if not m:
        return None
    kind, n = m.group(1), int(m.group(2))
    if kind == "LENGTH":
        return _fault_length(n)
    if n > MAX_STREAM_BYTES:
        return None
    return _fault_chunked(n) if kind == "CHUNKED" else _fault_padded(n)


def _fault_slow(h, c):
    time.sleep(SLOW_DELAY)
    h._reply(200, _normal_body(c))


def _fault_forced(encoding):
    return lambda h, c: h._reply(200, encode_body(_normal_body(c), encoding), encoding=encoding)


def _fault_deep(h, c):
    h._reply(200, b'{"' + c["kind"].encode() + b'":' + b"[" * 1000000)


_FAULTS = {
    "404": _fault_json(404, BAD_INSTRUMENT),
    "500": _fault_json(500, {"errorMessage": "Internal server error"}),
    "204": _fault_body(204, b""),
    "NULL": _fault_body(200, b"null"),
    "EMPTY": _fault_body(200, b""),
    "SPACES": _fault_body(200, b" \r\n\t  "),
    "HIGHBYTES": _fault_highbytes,
    "MALFORMED": lambda h, c: h._reply(200, b'{"' + c["kind"].encode() + b'": {"instrument": "EUR_USD", "price": '),
    "WRONGKIND": _fault_envelope(b"[1,2]"),
    "WRONGKIND_TEXT": _fault_book(lambda b: b.update(price={"a": 1})),
    "TOPARRAY": _fault_body(200, b"[]"),
    "NOBOOK": _fault_body(200, b'{"somethingElse": {"price":"1"}}'),
    "NULLBOOK": _fault_envelope(b"null"),
    "NOBUCKETS": _fault_book(lambda b: b.pop("buckets")),
    "NOTIME": _fault_book(lambda b: b.pop("time")),
    "NOINSTRUMENT": _fault_book(lambda b: b.pop("instrument")),
    "BADNUMBER": _fault_book(lambda b: b["buckets"][0].update(price="1.10x") if b["buckets"] else None),
    "NUMBERS": _fault_numbers,
    "REDIRECT": _fault_redirect(loop=False),
    "REDIRECT_LOOP": _fault_redirect(loop=True),
    "CUT": _fault_cut,
    "BADGZIP": lambda h, c: h._reply(200, BAD_GZIP, encoding="gzip"),
    "CUT_IDENTITY": _fault_cut_identity,
    "CLOSE": _fault_close,
    "RESET_BEFORE": lambda h, c: _reset(h),
    "RESET_DURING": _fault_reset_during,
    "REFUSED": _fault_refused,
    "BOMB": lambda h, c: h._reply(200, _cached_bomb(), encoding="gzip"),
    "SLOW": _fault_slow,
    "GZIP": _fault_forced("gzip"),
    "DEFLATE": _fault_forced("deflate"),
    "RAWDEFLATE": _fault_forced("rawdeflate"),
    "DEEP": _fault_deep,
}


# ---------------------------------------------------------------------------------------------
# Running

class Sandbox:
    """All environments' listeners of one deployment, in this process."""

    def __init__(self, deployment, pki_dir, state_dir=None):
        self.deployment = deployment
        self.pki_dir = pki_dir
        log_path = os.path.join(state_dir, "requests.jsonl") if state_dir else None
        self.state = SandboxState(deployment, log_path)
        self.servers = []
        self.threads = []
        self.refusing = None

    def start(self):
        try:
            # Bound but never listening: a connection to its port is refused, and while the
            # sandbox runs no other program can take that port and answer.
            self.refusing = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.refusing.bind(("127.0.0.1", 0))
            self.state.refused_port = self.refusing.getsockname()[1]
            for env in ENVIRONMENTS:
                port = self.deployment["envs"][env]["port"]
                cert = "dev" if env == "dev" else "server"
                ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                ctx.minimum_version = ssl.TLSVersion.TLSv1_2
                ctx.load_cert_chain(os.path.join(self.pki_dir, cert + ".pem"),
                                    os.path.join(self.pki_dir, cert + ".key"))
                ctx.set_alpn_protocols(["http/1.1"])
                try:
                    self.servers.append(_EnvServer(env, port, ctx, self.state))
                except OSError as e:
                    raise OSError(f"cannot listen on 127.0.0.1:{port} for {env}: {e.strerror or e}") from e
        except BaseException:
            self.stop()
            raise
        for srv in self.servers:
            t = threading.Thread(target=srv.serve_forever, kwargs={"poll_interval": 0.2},
                                 name=f"k5-{srv.env}", daemon=True)
            t.start()
            self.threads.append(t)

    def ready_line(self):
        return READY_PREFIX + " " + " ".join(f"{s.env}={s.port}" for s in self.servers)

    def stop(self):
        # shutdown() waits out a poll interval; ask every listener at once rather than in turn.
        stoppers = [threading.Thread(target=srv.shutdown, daemon=True)
                    for srv, t in zip(self.servers, self.threads) if t.is_alive()]
        for t in stoppers:
            t.start()
        for t in stoppers:
            t.join(timeout=5)
        for srv in self.servers:
            srv.server_close()
        for t in self.threads:
            t.join(timeout=5)
        self.servers, self.threads = [], []
        if self.refusing is not None:
            self.refusing.close()
            self.refusing = None
        self.state.close()


def cmd_serve(args):
    deployment = read_deployment(args.deployment)
    pki = ensure_pki(args.pki)
    if args.state:
        os.makedirs(args.state, exist_ok=True)
    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())
    sandbox = Sandbox(deployment, pki, args.state)
    try:
        sandbox.start()
    except OSError as e:
        print(f"k5 sandbox: {e}", file=sys.stderr, flush=True)
        return 2
    print(sandbox.ready_line(), flush=True)
    while not stop.wait(0.2):
        pass
    sandbox.stop()
    if args.state:
        pid_file = os.path.join(args.state, "sandbox.pid")
        with contextlib.suppress(OSError):
            with open(pid_file) as f:
                mine = f.read().strip() == str(os.getpid())
            if mine:
                os.remove(pid_file)
    print("k5 sandbox stopped", flush=True)
    return 0


def _sandbox_pid(state_dir):
    """The pid of the live sandbox recorded in state_dir, or None."""
    try:
        with open(os.path.join(state_dir, "sandbox.pid")) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return None
    return pid if _is_live_sandbox(pid) else None


def _is_live_sandbox(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X"):
                return False  # exited; waiting for its parent to reap it
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            cmdline = f.read().split(b"\0")
    except (OSError, IndexError):
        return False
    # The pid may have been reused by an unrelated process since the file was written.
    return any(a.endswith(b"k5_sandbox.py") for a in cmdline) and b"serve" in cmdline


def _stop_pid(pid):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + STOP_TIMEOUT
    while time.monotonic() < deadline:
        if not _is_live_sandbox(pid):
            return
        time.sleep(0.05)
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGKILL)
    deadline = time.monotonic() + 2
    while time.monotonic() < deadline and _is_live_sandbox(pid):
        time.sleep(0.05)


def cmd_stop(args):
    pid = _sandbox_pid(args.state)
    if pid is not None:
        _stop_pid(pid)
    with contextlib.suppress(OSError):
        os.remove(os.path.join(args.state, "sandbox.pid"))
    return 0


def _log_tail(path, lines=30):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return ""


def cmd_start(args):
    deployment = read_deployment(args.deployment)
    state = os.path.abspath(args.state)
    os.makedirs(state, exist_ok=True)
    old = _sandbox_pid(state)
    if old is not None:
        _stop_pid(old)
    pki = ensure_pki(args.pki)
    open(os.path.join(state, "requests.jsonl"), "w").close()
    log_path = os.path.join(state, "sandbox.log")
    with open(log_path, "wb") as log:
        proc = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve",
             "--deployment", os.path.abspath(args.deployment), "--pki", pki, "--state", state],
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
            start_new_session=True, cwd="/")
    tmp_pid = os.path.join(state, f".sandbox.pid.{os.getpid()}")
    with open(tmp_pid, "w") as f:
        f.write(f"{proc.pid}\n")
    os.replace(tmp_pid, os.path.join(state, "sandbox.pid"))

    ports = [deployment["envs"][env]["port"] for env in ENVIRONMENTS]
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            break
        ready = [l for l in _log_tail(log_path, 200).splitlines() if l.startswith(READY_PREFIX)]
        if ready and all(_port_accepts(p) for p in ports):
            print(ready[-1])
            return 0
        time.sleep(0.05)
    if proc.poll() is None:
        _stop_pid(proc.pid)
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(timeout=3)
    with contextlib.suppress(OSError):
        os.remove(os.path.join(state, "sandbox.pid"))
    print(f"k5 sandbox did not come up; {log_path} ends with:\n{_log_tail(log_path)}", file=sys.stderr)
    return 1


def _port_accepts(port):
    # Connect and leave without a byte: the sandbox does not count that as a client connection.
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def cmd_pki(args):
    print(ensure_pki(args.pki))
    return 0


def cmd_book(args):
    if args.kind not in BOOK_KINDS:
        print(f"KIND must be one of {', '.join(BOOK_KINDS)}", file=sys.stderr)
        return 2
    sys.stdout.buffer.write(book_body(args.kind, args.instrument, args.time) + b"\n")
    sys.stdout.flush()
    return 0


def main(argv=None):
    default_deployment = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                      "cmake", "deployments", "dev.cmake")
    p = argparse.ArgumentParser(prog="k5_sandbox.py", description="Local Tervik k5 sandbox service.")
    sub = p.add_subparsers(dest="command", required=True)
    s = sub.add_parser("serve", help="run in the foreground until SIGTERM/SIGINT")
    s.add_argument("--deployment", default=default_deployment)
    s.add_argument("--pki", required=True)
    s.add_argument("--state")
    s.set_defaults(func=cmd_serve)
    s = sub.add_parser("start", help="run detached and wait until every port listens")
    s.add_argument("--deployment", default=default_deployment)
    s.add_argument("--pki", required=True)
    s.add_argument("--state", required=True)
    s.set_defaults(func=cmd_start)
    s = sub.add_parser("stop", help="stop the sandbox started with the same --state")
    s.add_argument("--state", required=True)
    s.set_defaults(func=cmd_stop)
    s = sub.add_parser("pki", help="create the certificates if missing")
    s.add_argument("--pki", required=True)
    s.set_defaults(func=cmd_pki)
    s = sub.add_parser("book", help="print the body of a book reply")
    s.add_argument("kind", metavar="KIND", help="orderBook or positionBook")
    s.add_argument("instrument", metavar="INSTRUMENT")
    s.add_argument("time", metavar="TIME", nargs="?")
    s.set_defaults(func=cmd_book)
    args = p.parse_args(argv)
    try:
        return args.func(args)
    except (DeploymentError, RuntimeError, OSError) as e:
        print(f"k5 sandbox: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
