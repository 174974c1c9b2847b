#!/usr/bin/env python3
"""The web server of the Windows-side tests.

It listens on 127.0.0.1 only and serves what each test tells it to, per path,
and records every path asked. Tests drive it over control paths on the same
port, so that a Windows program can do it with WinInet or plain sockets:

  GET  /_control/ping                  answers "polvex-test-server"
  POST /_control/set?path=P&...        serves the request body at P from now on
       status=N          HTTP status (default 200)
       mode=full         the body with its exact Content-Length (default)
       mode=short        announces Content-Length: length=N (more than the
                         body), sends the body, then closes the connection
       mode=nolength     no Content-Length; the end of the body is the close
       mode=slow         sends the body in pieces of chunk=N bytes (default
                         1024) with delay_ms=N (default 100) between them;
                         with slow_bytes=N only the first N bytes so, the
                         rest at once
       mode=silent       reads the request and answers nothing for delay_ms,
                         the connection open, then closes it
       mode=endless      sends the status line, then one header line every
                         delay_ms, never ending the headers (until the
                         client goes)
       mode=late         waits delay_ms, then answers as mode=full (with
                         status=302 and location=URL: a slow redirection)
       type=T            Content-Type (default application/octet-stream)
       location=URL      a Location header (with status=302: a redirection)
       head_status=N     HEAD answers status N, empty (default: as GET)
  GET  /_control/log?prefix=P          one line per request whose path starts
                                       with P, oldest first:
                                       METHOD TAB PATH TAB USER-AGENT
                                       (PATH with the query, if any)
  POST /_control/reset?prefix=P        forgets the pages and log lines under P
                                       (everything without a prefix)
  POST /_control/stop                  ends the server

A path nobody configured answers 404 with a short text (and is logged).
Tests that run at the same time each keep to their own path prefix.

Command line:
  test_server.py serve [--port N] [--port-file F] [--idle-timeout S]
      runs in the foreground; writes the port to F once it listens
  test_server.py start --port-file F [--idle-timeout S] [--output F]
      starts "serve" in the background, waits until it answers, prints the
      port; the server's pid goes to F.pid
  test_server.py stop --port-file F
      stops the server named by F (by its control path, else by its pid)

The server ends by itself after --idle-timeout seconds without a request
(default 900), so that one left behind by an interrupted run goes away.
"""
import argparse
import http.client
import http.server
import os
import signal
import socketserver
import subprocess
import sys
import threading
import time
import urllib.parse

CONTROL = "/_control/"
PING_TEXT = b"polvex-test-server"
MODES = ("full", "short", "nolength", "slow", "silent", "endless", "late")


class Page:
    def __init__(self, body, status=200, mode="full", length=None, chunk=1024, delay_ms=100,
                 content_type="application/octet-stream", location=None, head_status=None,
                 slow_bytes=None):
        self.body = body
        self.status = status
        self.mode = mode
        self.length = length
        self.chunk = chunk
        self.delay_ms = delay_ms
        self.content_type = content_type
        self.location = location
        self.head_status = head_status
        self.slow_bytes = len(body) if slow_bytes is None else slow_bytes


class State:
    """Pages and the request log, shared by the handler threads."""

    def __init__(self):
        self.lock = threading.Lock()
        self.pages = {}
        self.log = []
        self.last_activity = time.monotonic()

    def touch(self):
        with self.lock:
            self.last_activity = time.monotonic()

    def idle_seconds(self):
        with self.lock:
            return time.monotonic() - self.last_activity

    def set_page(self, path, page):
        with self.lock:
            self.pages[path] = page

    def page(self, path):
        with self.lock:
            return self.pages.get(path)

    def record(self, method, path, agent):
        with self.lock:
            self.log.append((method, path, agent))

    def log_lines(self, prefix):
        with self.lock:
            return [entry for entry in self.log if entry[1].startswith(prefix)]

    def reset(self, prefix):
        with self.lock:
            self.pages = {p: v for p, v in self.pages.items() if not p.startswith(prefix)}
            self.log = [entry for entry in self.log if not entry[1].startswith(prefix)]


class BadRequest(Exception):
    pass


def one_value(query, name, default=None):
    values = query.get(name)
    return values[-1] if values else default


def int_value(query, name, default):
    text = one_value(query, name)
    if text is None:
        return default
    try:
        return int(text)
    except ValueError:
        raise BadRequest("%s is not a number: %r" % (name, text))


def page_from_request(query, body):
    path = one_value(query, "path")
    if not path or not path.startswith("/") or path.startswith(CONTROL):
        raise BadRequest("path must start with / and not be a control path")
    mode = one_value(query, "mode", "full")
    if mode not in MODES:
        raise BadRequest("unknown mode %r" % mode)
    page = Page(body, status=int_value(query, "status", 200), mode=mode,
                length=int_value(query, "length", None), chunk=int_value(query, "chunk", 1024),
                delay_ms=int_value(query, "delay_ms", 100),
                content_type=one_value(query, "type", "application/octet-stream"),
                location=one_value(query, "location"),
                head_status=int_value(query, "head_status", None),
                slow_bytes=int_value(query, "slow_bytes", None))
    if not 100 <= page.status <= 999:
        raise BadRequest("bad status %d" % page.status)
    if mode == "short" and (page.length is None or page.length <= len(body)):
        raise BadRequest("mode short needs length larger than the body")
    if page.chunk <= 0 or page.delay_ms < 0 or page.slow_bytes < 0:
        raise BadRequest("chunk must be positive, delay_ms and slow_bytes not negative")
    return path, page


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "PolvexTestServer/1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        if self.server.verbose:
            sys.stderr.write("test_server: " + (format % args) + "\n")

    def do_GET(self):
        self.handle_any("GET")

    def do_POST(self):
        self.handle_any("POST")

    def do_HEAD(self):
        self.handle_any("HEAD")

    def handle_any(self, method):
        state = self.server.state
        state.touch()
        self.close_connection = True
        split = urllib.parse.urlsplit(self.path)
        path = split.path
        query = urllib.parse.parse_qs(split.query, keep_blank_values=True)
        body = self.read_request_body()
        if path.startswith(CONTROL):
            try:
                self.control(method, path[len(CONTROL):], query, body)
            except BadRequest as error:
                self.reply(400, str(error).encode() + b"\n", "text/plain")
            return
        # The log keeps the query, which the page lookup ignores.
        state.record(method, self.path, self.headers.get("User-Agent", ""))
        page = state.page(path)
        if page is None:
            self.reply(404, b"no page here\n", "text/plain")
            return
        self.serve_page(page, method == "HEAD")

    def read_request_body(self):
        length = self.headers.get("Content-Length")
        if not length:
            return b""
        return self.rfile.read(int(length))

    def control(self, method, verb, query, body):
        state = self.server.state
        prefix = one_value(query, "prefix", "")
        if verb == "ping":
            self.reply(200, PING_TEXT, "text/plain")
        elif verb == "set" and method == "POST":
            path, page = page_from_request(query, body)
            state.set_page(path, page)
            self.reply(200, b"ok\n", "text/plain")
        elif verb == "log":
            lines = "".join("%s\t%s\t%s\n" % entry for entry in state.log_lines(prefix))
            self.reply(200, lines.encode("utf-8", "replace"), "text/plain")
        elif verb == "reset" and method == "POST":
            state.reset(prefix)
            self.reply(200, b"ok\n", "text/plain")
        elif verb == "stop" and method == "POST":
            self.reply(200, b"stopping\n", "text/plain")
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        else:
            raise BadRequest("unknown control request %s %s" % (method, verb))

    def reply(self, status, body, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def serve_page(self, page, head_only):
        if page.mode == "silent":
            # A server that took the connection and never answers.
            time.sleep(page.delay_ms / 1000.0)
            return
        if page.mode == "endless":
            self.send_endless_headers(page)
            return
        if page.mode == "late":
            time.sleep(page.delay_ms / 1000.0)
        if head_only and page.head_status is not None:
            self.reply(page.head_status, b"", "text/plain")
            return
        self.send_response(page.status)
        if page.location is not None:
            self.send_header("Location", page.location)
        self.send_header("Content-Type", page.content_type)
        self.send_header("Cache-Control", "no-store")
        if page.mode == "short":
            self.send_header("Content-Length", str(page.length))
        elif page.mode != "nolength":
            self.send_header("Content-Length", str(len(page.body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if head_only:
            return
        if page.mode == "slow":
            self.send_slowly(page)
        else:
            self.wfile.write(page.body)
        self.wfile.flush()
        # "short" then simply closes: the client sees fewer bytes than
        # announced. The connection closes after every response anyway.

    def send_endless_headers(self, page):
        self.wfile.write(b"HTTP/1.1 %d OK\r\n" % page.status)
        line = 0
        try:
            while True:
                self.wfile.write(b"X-Endless-%d: more to come\r\n" % line)
                self.wfile.flush()
                self.server.state.touch()
                line += 1
                time.sleep(page.delay_ms / 1000.0)
        except OSError:
            pass  # the client gave up

    def send_slowly(self, page):
        slow = page.body[:page.slow_bytes]
        for start in range(0, len(slow), page.chunk):
            if start:
                time.sleep(page.delay_ms / 1000.0)
            self.wfile.write(slow[start:start + page.chunk])
            self.wfile.flush()
            self.server.state.touch()
        self.wfile.write(page.body[len(slow):])


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, verbose=False):
        self.state = State()
        self.verbose = verbose
        super().__init__(("127.0.0.1", port), Handler)


def write_file_atomically(path, text):
    temporary = path + ".tmp%d" % os.getpid()
    with open(temporary, "w") as f:
        f.write(text)
    os.replace(temporary, path)


def watch_idle(server, idle_timeout):
    while True:
        time.sleep(min(1.0, idle_timeout / 4.0))
        if server.state.idle_seconds() > idle_timeout:
            sys.stderr.write("test_server: idle for %gs, stopping\n" % idle_timeout)
            server.shutdown()
            return


def serve(args):
    server = Server(args.port, args.verbose)
    port = server.server_address[1]
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    if args.idle_timeout > 0:
        threading.Thread(target=watch_idle, args=(server, args.idle_timeout), daemon=True).start()
    if args.port_file:
        write_file_atomically(args.port_file, "%d\n" % port)
    else:
        print(port, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        if args.port_file:
            remove_if_ours(args.port_file, port)
    return 0


def remove_if_ours(port_file, port):
    """Removes the port file unless a newer server has written its own."""
    try:
        if read_port(port_file) == port:
            os.remove(port_file)
    except (OSError, ValueError):
        pass


def read_port(port_file):
    with open(port_file) as f:
        return int(f.read().strip())


def control_request(port, method, verb, timeout=2.0):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request(method, CONTROL + verb)
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def answers(port):
    try:
        return control_request(port, "GET", "ping") == (200, PING_TEXT)
    except OSError:
        return False


def stop_server(port_file, wait_seconds=5.0):
    """Stops the server of port_file; returns 0 when none is left running."""
    pid_file = port_file + ".pid"
    pid = None
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        pass
    try:
        port = read_port(port_file)
    except (OSError, ValueError):
        port = None
    if port is not None and answers(port):
        try:
            control_request(port, "POST", "stop")
        except OSError:
            pass
    deadline = time.monotonic() + wait_seconds
    while pid is not None and process_alive(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    if pid is not None and process_alive(pid) and is_our_server(pid, port_file):
        os.kill(pid, signal.SIGTERM)
    for path in (port_file, pid_file):
        try:
            os.remove(path)
        except OSError:
            pass
    return 0


def is_our_server(pid, port_file):
    """Guards against a pid that the system has since given to another program."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            words = f.read().split(b"\0")
    except OSError:
        return False
    return (os.path.abspath(__file__).encode() in words and b"serve" in words
            and port_file.encode() in words)


def process_alive(pid):
    try:
        finished, _ = os.waitpid(pid, os.WNOHANG)
        if finished == pid:
            return False
    except ChildProcessError:
        pass  # not our child: ask the kernel instead
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie left by another parent counts as gone.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ", 1)[1][0] != "Z"
    except (OSError, IndexError):
        return True


def start(args):
    port_file = os.path.abspath(args.port_file)
    os.makedirs(os.path.dirname(port_file), exist_ok=True)
    stop_server(port_file)  # one left behind by an interrupted run
    command = [sys.executable, os.path.abspath(__file__), "serve", "--port", str(args.port),
               "--port-file", port_file, "--idle-timeout", str(args.idle_timeout)]
    if args.verbose:
        command.append("--verbose")
    output = open(args.output, "ab") if args.output else subprocess.DEVNULL
    # Its own session and no pipe of ours: CTest waits for the pipes of the
    # tests it runs, and the server must outlive this one.
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=output, stderr=output,
                               start_new_session=True, close_fds=True)
    write_file_atomically(port_file + ".pid", "%d\n" % process.pid)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if process.poll() is not None:
            sys.stderr.write("test_server: the server ended at once (code %d)\n"
                             % process.returncode)
            return 1
        try:
            port = read_port(port_file)
            if answers(port):
                print(port)
                return 0
        except (OSError, ValueError):
            pass
        time.sleep(0.05)
    sys.stderr.write("test_server: no answer within 10 s\n")
    process.kill()
    return 1


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "start"):
        p = commands.add_parser(name)
        p.add_argument("--port", type=int, default=0, help="0: any free port")
        p.add_argument("--port-file")
        p.add_argument("--idle-timeout", type=float, default=900,
                       help="seconds without a request before it stops by itself (0: never)")
        p.add_argument("--verbose", action="store_true")
        if name == "start":
            p.add_argument("--output", help="file for the server's messages")
    p = commands.add_parser("stop")
    p.add_argument("--port-file", required=True)
    args = parser.parse_args(argv)
    if args.command == "serve":
        return serve(args)
    if args.command == "start":
        if not args.port_file:
            parser.error("start needs --port-file")
        return start(args)
    return stop_server(os.path.abspath(args.port_file))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
