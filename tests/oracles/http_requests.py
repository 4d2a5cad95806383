#!/usr/bin/env python3
"""HTTP requests of read and write against a server of python3's http.server on 127.0.0.1 and a port the
system picks, with no other network access.

    http_requests.py OKA

Runs one Oka script that makes each request of the table below and prints the molded result (or "***"
and the error's id), and compares it with the table. The server's /echo page answers with the method,
the request's header lines (but Host and Content-Length, which the protocol sets) and its body, so the
cases see what was sent."""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading

OKA = os.path.abspath(sys.argv[1])


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        received = self.rfile.read(length)
        if self.path == "/text":
            self.reply(200, b"hello\nworld", [("Content-Type", "text/plain"), ("X-Twice", "a"), ("X-Twice", "b")])
        elif self.path == "/utf8":
            self.reply(200, "é€".encode())
        elif self.path == "/redirect":
            self.reply(302, b"", [("Location", "/text")])
        elif self.path == "/echo":
            lines = [self.command] + [f"{name}: {value}" for name, value in self.headers.items()
                                      if name.lower() not in ("host", "content-length")]
            self.reply(200, "\n".join(lines).encode() + b"\n\n" + received)
        elif self.path.startswith("/path/"):
            self.reply(200, self.path.encode())
        elif self.path == "/loop":
            self.reply(302, b"", [("Location", "/loop")])
        elif self.path == "/to-file":
            self.reply(302, b"", [("Location", "file:///etc/hostname")])
        elif self.path == "/garbage":
            self.wfile.write(b"NOT HTTP AT ALL\r\n\r\n")
            self.close_connection = True
        elif self.path == "/bare":
            # a header without a space after its colon
            self.wfile.write(b"HTTP/1.0 200 OK\r\nX-Bare:value\r\nX-Empty:\r\nContent-Length: 2\r\n\r\nok")
        else:
            self.reply(404, b"no such page")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = answer


# (Oka code with URL for the server's address, NAMED for it by the name localhost and CLOSED for a port
# where nothing listens, the printed result)
CASES = [
    ('read URL/text', '"hello^/world"'),
    ('read/binary URL/text', '#{68656C6C6F0A776F726C64}'),
    ('read/lines URL/text', '["hello" "world"]'),
    ('read URL/utf8', '"é€"'),
    ('read URL/redirect', '"hello^/world"'),
    ('read NAMED/text', '"hello^/world"'),
    ('read URL/path/a%20b/é?q=1', '"/path/a%20b/%C3%A9?q=1"'),
    ('r: read/info URL/text reduce [r/1 r/2/x-twice r/2/content-type r/3]', '[200 ["a" "b"] "text/plain" "hello^/world"]'),
    ('r: read/info URL/missing reduce [r/1 r/3]', '[404 "no such page"]'),
    ('r: read/info URL/redirect reduce [r/1 r/2/content-type r/3]', '[200 "text/plain" "hello^/world"]'),
    ('r: write/info URL/text [HEAD] reduce [r/1 r/2/content-length r/3]', '[200 "11" ""]'),
    ('r: read/info URL/bare reduce [r/2/x-bare r/2/x-empty r/3]', '["value" "" "ok"]'),
    ('read/lines URL/echo', '["GET" "Content-Type: application/x-www-form-urlencoded" "Accept-Charset: UTF-8" '
                            '{User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)} ""]'),
    ('write URL/echo "a=1"', '{POST^/Content-Type: application/x-www-form-urlencoded^/Accept-Charset: UTF-8^/'
                             'User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)^/^/a=1}'),
    ('write URL/echo [put [X-One: "1" Accept: text/plain] "data"]', '{PUT^/X-One: 1^/Accept: text/plain^/^/data}'),
    ('write URL/echo [delete [X-Number: 12]]', '{DELETE^/X-Number: 12^/^/}'),
    ('write/binary URL/echo [post [] #{00FF}]', '#{504F53540A0A00FF}'),
    ('write URL/echo [get [] "not sent"]', '"GET^/^/"'),
    ('write URL/echo []', '{GET^/Content-Type: application/x-www-form-urlencoded^/Accept-Charset: UTF-8^/'
                          'User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)^/^/}'),
    ('read CLOSED', '*** no-connect'),
    # a failure says what went wrong, in libcurl's words
    ('r: try [read CLOSED] reduce [r/id to logic! find/match r/arg2 "Connection refused ("]', '[no-connect true]'),
    ('r: try [read URL/loop] reduce [r/id r/arg2]', '[no-connect "Maximum (10) redirects followed"]'),
    ('r: try [read URL/to-file] reduce [r/id to logic! find r/arg2 {Protocol "file" not supported}]',
     '[no-connect true]'),
    ('r: try [read URL/garbage] reduce [r/id to logic! find r/arg2 "HTTP/0.9"]', '[no-connect true]'),
    ('read/part URL/text 2', '*** not-done'),
    ('write/seek URL/text "a" 2', '*** not-done'),
    ('write URL/text 1', '*** invalid-arg'),
    ('write URL/text ["get"]', '*** invalid-arg'),
    ('write URL/text [get "headers"]', '*** invalid-arg'),
    ('write URL/echo [get [X-A: "1^/X-B: 2"]]', '*** invalid-arg'),
    ('write URL/echo [get ["X-A: 1^M^/X-B" 2]]', '*** invalid-arg'),
    # load reads a URL's content as code, or through the codec whose MIME type the reply names; a reply
    # other than 200 loads as none
    ('new-line/all load URL/text false', '[hello world]'),
    ('load URL/missing', 'none'),
    ('put system/codecs \'plain make object! [title: "" name: \'plain mime-type: [text/plain] suffixes: [] '
     'encode: none decode: func [data] [reduce [\'plain to string! data]]] load URL/text', '[plain "hello^/world"]'),
    ('load URL/utf8', 'é€'),
    # the download cache, in the script's own folder: a URL is read once, then from its cache entry
    # until /update reads it again
    ('system/options/cache: what-dir reduce [read-thru URL/utf8 read path-thru URL/utf8]', '["é€" "é€"]'),
    ('write path-thru URL/utf8 "old" reduce [read-thru URL/utf8 read-thru/update URL/utf8 read path-thru URL/utf8]',
     '["old" "é€" "é€"]'),
    ('new-line/all reduce [load-thru/as URL/text none load path-thru URL/text] false', '[[plain "hello^/world"] [plain "hello^/world"]]'),
]

SHOW = """show: func [code /local r] [
    r: try code
    either error! = type? :r [print ["***" r/id]] [print mold :r]
]
"""


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    closed = f"http://127.0.0.1:{closed_port()}/"
    named = f"http://localhost:{server.server_address[1]}"  # the name resolved as any host's
    script = "Oka []\n" + SHOW + "".join(
        "show [" + code.replace("URL", base).replace("CLOSED", closed).replace("NAMED", named) + "]\n" for code, _ in CASES)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "http.oka")
        with open(path, "w", encoding="utf-8") as f:
            f.write(script)
        run = subprocess.run([OKA, path], capture_output=True, timeout=120)
    server.shutdown()
    printed = run.stdout.decode("utf-8", "replace").splitlines()
    failures = 0
    for i, (code, expected) in enumerate(CASES):
        actual = printed[i] if i < len(printed) else "(nothing)"
        if actual != expected:
            failures += 1
            print(f"{code}\n  expected: {expected}\n  actual:   {actual}")
    if run.returncode != 0 or len(printed) != len(CASES):
        failures += 1
        print(f"exit status {run.returncode}; {len(printed)} lines for {len(CASES)} cases")
        print(run.stderr.decode("utf-8", "replace"))
    sys.exit(1 if failures else 0)


main()
