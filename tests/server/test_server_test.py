#!/usr/bin/env python3
"""Checks of the test web server itself: each way of answering does what the
Windows-side tests rely on, and start, stop and the idle timeout work."""
import http.client
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "test_server.py")


def raw_get(port, path):
    """The whole raw response, read until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nUser-Agent: selftest\r\n\r\n" % path).encode())
        data = b""
        arrivals = []
        while True:
            piece = s.recv(65536)
            if not piece:
                return data, arrivals
            data += piece
            arrivals.append(time.monotonic())


def split_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = dict(line.split(": ", 1) for line in lines[1:])
    return status, headers, body


def running(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ", 1)[1][0] != "Z"
    except OSError:
        return False


class Served(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.port_file = os.path.join(cls.folder.name, "port")
        out = subprocess.run([sys.executable, SCRIPT, "start", "--port-file", cls.port_file,
                              "--idle-timeout", "60"], capture_output=True, timeout=30)
        assert out.returncode == 0, out.stderr
        cls.port = int(out.stdout)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([sys.executable, SCRIPT, "stop", "--port-file", cls.port_file],
                       timeout=30)
        cls.folder.cleanup()

    def control(self, method, verb, body=b"", **query):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.request(method, "/_control/%s?%s" % (verb, urllib.parse.urlencode(query)),
                           body=body)
        response = connection.getresponse()
        result = response.status, response.read()
        connection.close()
        return result

    def test_listens_on_loopback_only(self):
        with open(self.port_file) as f:
            self.assertEqual(int(f.read()), self.port)
        out = subprocess.run(["ss", "-ltnH", "sport = :%d" % self.port], capture_output=True,
                             text=True)
        if out.returncode == 0:
            self.assertIn("127.0.0.1:%d" % self.port, out.stdout)
            self.assertNotIn("0.0.0.0:%d" % self.port, out.stdout)

    def test_full_body_with_status(self):
        self.assertEqual(self.control("POST", "set", b"oops", path="/f/a", status=500)[0], 200)
        status, headers, body = split_response(raw_get(self.port, "/f/a")[0])
        self.assertEqual((status, body, headers["Content-Length"]), (500, b"oops", "4"))

    def test_short_body_announces_more_than_it_sends(self):
        self.control("POST", "set", b"x" * 100, path="/s/a", mode="short", length=1000)
        status, headers, body = split_response(raw_get(self.port, "/s/a")[0])
        self.assertEqual((status, headers["Content-Length"], len(body)), (200, "1000", 100))
        self.assertEqual(self.control("POST", "set", b"x" * 100, path="/s/b", mode="short",
                                      length=100)[0], 400)

    def test_body_without_length(self):
        self.control("POST", "set", b"abc", path="/n/a", mode="nolength")
        status, headers, body = split_response(raw_get(self.port, "/n/a")[0])
        self.assertNotIn("Content-Length", headers)
        self.assertEqual(body, b"abc")

    def test_slow_body_arrives_in_pieces(self):
        self.control("POST", "set", b"y" * 3000, path="/w/a", mode="slow", chunk=1000,
                     delay_ms=200)
        start = time.monotonic()
        data, arrivals = raw_get(self.port, "/w/a")
        self.assertEqual(split_response(data)[2], b"y" * 3000)
        self.assertGreaterEqual(time.monotonic() - start, 0.35)
        self.assertGreaterEqual(len(arrivals), 3)

    def test_slow_part_then_the_rest_at_once(self):
        self.control("POST", "set", b"a" * 300 + b"b" * 5000, path="/w/b", mode="slow",
                     chunk=100, delay_ms=200, slow_bytes=300)
        start = time.monotonic()
        data, arrivals = raw_get(self.port, "/w/b")
        self.assertEqual(split_response(data)[2], b"a" * 300 + b"b" * 5000)
        # Two pauses of 200 ms between the three slow pieces, none after.
        self.assertGreaterEqual(time.monotonic() - start, 0.35)
        self.assertLess(time.monotonic() - start, 0.55)
        self.assertGreaterEqual(len(arrivals), 3)

    def test_silent_server_keeps_the_connection_and_answers_nothing(self):
        self.control("POST", "set", b"never sent", path="/q/a", mode="silent", delay_ms=700)
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(b"GET /q/a HTTP/1.1\r\nHost: x\r\n\r\n")
            s.settimeout(0.4)
            with self.assertRaises(socket.timeout):
                s.recv(1)
            s.settimeout(10)
            self.assertEqual(s.recv(1), b"")  # closed after delay_ms, with nothing sent
        self.assertIn(b"GET\t/q/a\t", self.control("GET", "log", prefix="/q/")[1])

    def test_endless_headers_and_a_late_redirection(self):
        self.control("POST", "set", b"", path="/e/a", mode="endless", delay_ms=200)
        self.control("POST", "set", b"", path="/e/b", mode="late", delay_ms=500, status=302,
                     location="http://127.0.0.1/next")
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(b"GET /e/a HTTP/1.1\r\nHost: x\r\n\r\n")
            start, data = time.monotonic(), b""
            while data.count(b"\r\n") < 4:
                data += s.recv(4096)
        self.assertGreaterEqual(time.monotonic() - start, 0.35)
        self.assertTrue(data.startswith(b"HTTP/1.1 200 OK\r\nX-Endless-0: "))
        start = time.monotonic()
        status, headers, _ = split_response(raw_get(self.port, "/e/b")[0])
        self.assertGreaterEqual(time.monotonic() - start, 0.45)
        self.assertEqual((status, headers["Location"]), (302, "http://127.0.0.1/next"))

    def test_log_and_reset_keep_to_their_prefix(self):
        self.control("POST", "set", b"1", path="/one/a")
        raw_get(self.port, "/one/a")
        raw_get(self.port, "/one/a")
        raw_get(self.port, "/two/missing")
        raw_get(self.port, "/one/a?q=1")
        status, log = self.control("GET", "log", prefix="/one/")
        self.assertEqual(log, b"GET\t/one/a\tselftest\n" * 2 + b"GET\t/one/a?q=1\tselftest\n")
        self.assertEqual(split_response(raw_get(self.port, "/two/missing")[0])[0], 404)
        self.control("POST", "reset", prefix="/one/")
        self.assertEqual(self.control("GET", "log", prefix="/one/")[1], b"")
        self.assertEqual(self.control("GET", "log", prefix="/two/")[1],
                         b"GET\t/two/missing\tselftest\n" * 2)
        self.assertEqual(split_response(raw_get(self.port, "/one/a")[0])[0], 404)

    def test_bad_control_requests_are_refused(self):
        self.assertEqual(self.control("POST", "set", b"", path="no-slash")[0], 400)
        self.assertEqual(self.control("POST", "set", b"", path="/a", mode="odd")[0], 400)
        self.assertEqual(self.control("POST", "set", b"", path="/a", mode="slow",
                                      slow_bytes=-1)[0], 400)
        self.assertEqual(self.control("POST", "set", b"", path="/_control/x")[0], 400)
        self.assertEqual(self.control("GET", "unknown")[0], 400)


class Lifetime(unittest.TestCase):
    def test_idle_server_stops_by_itself(self):
        with tempfile.TemporaryDirectory() as folder:
            port_file = os.path.join(folder, "port")
            out = subprocess.run([sys.executable, SCRIPT, "start", "--port-file", port_file,
                                  "--idle-timeout", "1"], capture_output=True, timeout=30)
            self.assertEqual(out.returncode, 0, out.stderr)
            deadline = time.monotonic() + 10
            while os.path.exists(port_file) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertFalse(os.path.exists(port_file))
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", int(out.stdout)), timeout=2).close()
            subprocess.run([sys.executable, SCRIPT, "stop", "--port-file", port_file],
                           timeout=30)

    def test_stop_ends_the_server(self):
        with tempfile.TemporaryDirectory() as folder:
            port_file = os.path.join(folder, "port")
            out = subprocess.run([sys.executable, SCRIPT, "start", "--port-file", port_file],
                                 capture_output=True, timeout=30)
            port = int(out.stdout)
            with open(port_file + ".pid") as f:
                pid = int(f.read())
            stop = subprocess.run([sys.executable, SCRIPT, "stop", "--port-file", port_file],
                                  timeout=30)
            self.assertEqual(stop.returncode, 0)
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", port), timeout=2).close()
            deadline = time.monotonic() + 5
            while running(pid) and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertFalse(running(pid))
            self.assertFalse(os.path.exists(port_file))


if __name__ == "__main__":
    unittest.main()
