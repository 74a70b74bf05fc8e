#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from the sandbox's replies.

    python3 fuzz/make_corpus.py [--k5-token build/<dir>/bin/k5-token]

The seeds are small on purpose: the fuzzers find the rest. Token files come from k5-token (the
library's own writer, with the development key) when it is given, re-encoded with each
byte-order mark the library reads.
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "sandbox"))
import k5_sandbox as sandbox  # noqa: E402


class Capture:
    """Stands in for the request handler: keeps the status and body a fault would send."""

    def __init__(self):
        self.status = None
        self.body = b""
        self.headers = {}

    def _reply(self, status, body=b"", **kw):
        self.status, self.body = status, body

    def _json(self, status, value, **kw):
        self._reply(status, sandbox.to_json(value))


def fault_body(name, kind):
    h = Capture()
    c = {"kind": kind, "instrument": "EUR_USD", "time": "2019-12-23T15:00:00Z", "query": ""}
    sandbox._FAULTS[name](h, c)
    return h.body


def book_replies():
    out = []
    for kind in ("orderBook", "positionBook"):
        out.append(sandbox.book_body(kind, "EUR_USD", "2019-12-23T15:00:00Z"))
        for size in (0, 1, 3):
            out.append(sandbox.book_body(kind, f"SIZE_{size}"))
        for fault in ("404", "500", "NULL", "EMPTY", "SPACES", "HIGHBYTES", "MALFORMED", "WRONGKIND",
                      "WRONGKIND_TEXT", "TOPARRAY", "NOBOOK", "NULLBOOK", "NOBUCKETS", "NOTIME",
                      "NOINSTRUMENT", "BADNUMBER"):
            out.append(fault_body(fault, kind))
        # The number-valued book, on a small book so the seed stays small.
        small = sandbox.book_body(kind, "SIZE_3").decode()
        out.append(re.sub(r'"(price|bucketWidth|longCountPercent|shortCountPercent)":"([0-9.]+)"',
                          r'"\1":\2', small).encode())
        out.append(b'{"' + kind.encode() + b'":' + b"[" * 300)  # the deep reply, cut short
    out.append(b'{"ORDERBOOK":{"BUCKETS":[null,{"PRICE":"1,5"}],"Price":true,"time":"t",'
               b'"instrument":"\\u20ac\\ud83d\\ude00"},"positionbook":{"buckets":null}}')
    return out


def token_replies():
    code = "0" * 32
    return [
        sandbox.to_json({"access_token": f"issued-practice-{code}", "token_type": "Bearer",
                         "expires_in": 86400}),
        sandbox.to_json({"error": "invalid_client", "error_description": "Client authentication failed"}),
        sandbox.to_json({"error": "invalid_grant", "error_description": "Authorization code expired"}),
        sandbox.to_json({"token_type": "Bearer"}),
        b"", b"null", b'{"access_token": ',
        b"\xef\xbb\xbf" + sandbox.to_json({"access_token": "bom-token"}),
        b'{"Access_Token":123.5e1,"nested":{"access_token":[1]},"access_token":null}',
        b'{"access_token":"a","ACCESS_TOKEN":"\\u00e9"}',
    ]


def token_files(k5_token):
    tokens = ["sandbox-practice-token", "issued-trade-" + "0123456789abcdef" * 2,
              "t\u00f6k\u20acn-\U0001F600", "x"]
    texts = []
    if k5_token:
        with tempfile.TemporaryDirectory() as d:
            for token in tokens:
                subprocess.run([k5_token, "write", d, token], check=True, stdout=subprocess.DEVNULL)
                with open(os.path.join(d, "tervik_token.txt"), "rb") as f:
                    texts.append(f.read().decode("ascii"))
    out = []
    for text in texts:
        out.append(text.encode())
        out.append(b"\xef\xbb\xbf" + text.encode() + b"\r\n")
        out.append(b"\xff\xfe" + text.encode("utf-16-le"))
        out.append(b"\xfe\xff" + text.encode("utf-16-be"))
        out.append(b"\xff\xfe\x00\x00" + text.encode("utf-32-le"))
        out.append(b"\x00\x00\xfe\xff" + text.encode("utf-32-be"))
        wrapped = "\n".join(text[i:i + 8] for i in range(0, len(text), 8))
        out.append(wrapped.encode())
    out += [b"QUJD", b"QUI=", b"QQ==", b"QQ=", b"Q===", b"QUJD\nQUI=\n", b"\xff\xfeQ\x00", b"\xc3"]
    return out


def decimals():
    return [b"1.10250", b"0.00050", b"13.5635", b"109.500", b"2000.00", b"-0.5e-3", b"1,234.5",
            b" 42 ", b"+7", b".5", b"5.", b"1e309", b"1e-400", b"-1e-400", b"1.10x", b"1,,5",
            b",5", b"1.5,3", b"inf", b"0x1p3", b"1.7976931348623157e308", b"\t-0\n"]


def book_requests():
    def header(offset, bar_time, kind):
        return struct.pack("<bIB", offset, bar_time & 0xFFFFFFFF, kind)

    out = []
    for instrument in (b"EURUSD", b"EUR_USD", b"XAU_USD", b"FAULT_404", b"EU", b"EUR USD",
                       "EUR\u20acUSD".encode(), b"EUR?USD", b"EUR#USD", b"A/B_C", b"%41%42C"):
        out.append(header(2, 1577113200, 0) + instrument)
    out.append(header(-5, 0, 1) + b"GBPUSD")
    out.append(header(3, -1, 0) + b"USDJPY")
    out.append(header(7, 0x7FFFFFFF, 1) + b"SIZE_3")
    return out


def messages():
    def cap(n):
        return struct.pack("<H", n)

    texts = [b"Invalid refnum passed in 7", sandbox.to_json(sandbox.BAD_INSTRUMENT) + b"\nGET https://x",
             "EUR\u20acUSD".encode(), "2019-12-23T15:00:00Z\u00e9".encode(),
             "\U0001F600\U0001F600ab".encode(), b"a\xffb", b"\xc0\x80\x80\x80\x80\x80\x80x",
             b"\xf0\x9f\x98", b"\xed\xa0\x80\xed\xb0\x80"]
    out = []
    for i, text in enumerate(texts):
        out.append(cap(i % 5) + text)
        out.append(cap(len(text)) + text)
    return out


def compressed():
    def header(encoding_index, level, seed):
        return bytes([encoding_index + 5 * level]) + struct.pack("<I", seed)

    small = sandbox.book_body("orderBook", "SIZE_3")
    out = []
    for i, enc in enumerate(("gzip", "deflate")):
        out.append(header(i, 6, 1) + sandbox.encode_body(small, enc))
    out.append(header(1, 6, 2) + sandbox.encode_body(small, "rawdeflate"))
    out.append(header(0, 1, 3) + sandbox.BAD_GZIP)
    out.append(header(2, 9, 4) + small)
    out.append(header(0, 0, 5) + sandbox.encode_body(b"", "gzip"))
    # Raw deflate whose first byte (a stored block, not the last) may also begin a zlib header;
    # split seed 2 makes that byte the first chunk on its own.
    out.append(header(1, 0, 2) + b"\x08\x05\x00\xfa\xffhello\x01\x00\x00\xff\xff")
    return out


def write(target, blobs):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for blob in blobs:
        name = hashlib.sha1(blob).hexdigest()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(blob)
    print(f"{target}: {len(set(blobs))} seeds")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--k5-token", help="k5-token of a build with the development key")
    args = p.parse_args()
    write("book_reply", book_replies())
    write("token_reply", token_replies())
    write("token_file", token_files(args.k5_token))
    write("decimal", decimals())
    write("book_request", book_requests())
    write("string_util", messages())
    write("content_decoder", compressed())


if __name__ == "__main__":
    main()
