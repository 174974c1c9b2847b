"""Pieces for whole-program runs under wine: a web server (nginx) for a
built download site, the program started in a scratch folder, the window
driver, the registry and screenshots; the test roots and TLS servers of
certificates.py are at hand here too."""
import contextlib
import http.client
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.parse

from certificates import TestCertificates, TlsServer  # noqa: F401 - offered as h.*

TAG_KEY = "SOFTWARE\\Polvex\\Downloader"
UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Polvex Nimbra"
SITE_PORT = 47800
# How long a program may take to show its first window. The wait ends when
# the window shows; the bound is for machines that emulate 32-bit programs,
# where one takes a minute or more to start (more with other wine work
# beside it).
START_SECONDS = 300

TEXT_CONNECT = "Failed to connect to download site.\r\nPlease try again later..."
TEXT_PARSE = "Parsing error occured. Please contact\r\nus if this error persists."
TEXT_NETWORK = "A network error occured while downloading software.\r\nPlease try again later..."
TEXT_PREPARING = "Preparing to run installation..."
TEXT_LAUNCH = "Error starting polvex installation. Please contact\r\nus if this error persists."

CHOOSER = "Language:"
WINDOW = "Downloading..."
IDOK, IDCANCEL, IDC_STATUS, IDC_PROGRESS = 1, 2, 1001, 1003
LANGUAGE_BUTTON = {code: 1015 + i for i, code in enumerate(
    ["CHT", "DEU", "ENG", "SPA", "FRE", "ITA", "JAP", "KOR", "DUT", "POR", "SWE"])}


class Paths:
    """The programs and folders of a run, from a caller's parsed arguments.
    Each caller (the scenarios, the demo, the benchmarks) gives only what it
    has: whatever it lacks is None here."""

    def __init__(self, args):
        def path(name):
            value = getattr(args, name, None)
            return os.path.abspath(value) if value else None
        self.polvex = path("polvex")
        self.wdrive = path("wdrive")
        self.installer = path("installer")
        self.swapper = path("swapper")
        self.version_dll = path("version_dll")
        self.trust_root = path("trust_root")
        self.planted_dll = path("planted_dll")
        self.dlmtool = path("dlmtool")
        self.prefix = path("prefix")
        self.work = path("work")
        self.shots = path("screenshots")
        # The program built to check its installer's signer, that name and
        # its issuer's.
        self.signer_polvex = getattr(args, "signer_polvex", None)
        self.signer = getattr(args, "signer", None)
        self.issuer = getattr(args, "issuer", None)


def own_env():
    """The caller's environment less what the runs set themselves: wine's
    settings, the locale and the proxy variables (wine's WinInet takes
    http_proxy when the prefix sets no proxy; curl takes them all)."""
    return {k: v for k, v in os.environ.items()
            if not k.startswith("WINE") and k not in ("LC_ALL", "LANGUAGE")
            and not k.lower().endswith("_proxy")}


def wine_env(paths, extra=None):
    # Only the display comes from the caller (the suite's own Xvfb); wine's
    # settings and the locale are the scenario's.
    env = own_env()
    env.update({"WINEPREFIX": paths.prefix, "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml=", "LANG": "C.UTF-8"})
    if extra:
        env.update(extra)
    return env


def own_wine_server(paths):
    """Starts the prefix's wine server anew for this caller's display. Wine's
    desktop process keeps the display of the program that started it, and
    while it lives every window of the prefix shows there: a demo on a
    display of its own would otherwise draw on the last one's."""
    subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=wine_env(paths), capture_output=True)
    subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=wine_env(paths), capture_output=True)
    subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake",
                                 "wine-prefix.sh"), paths.prefix], check=True)


def wine_loader(exe):
    """The wine loader for a program: the 64-bit one for x86-64 programs,
    the 32-bit one (emulated on some machines, so much slower) otherwise."""
    with open(exe, "rb") as f:
        header = f.read(4096)
    pe = int.from_bytes(header[60:64], "little")
    machine = header[pe + 4:pe + 6]
    return "/usr/lib/wine/wine64" if machine == b"\x64\x86" else "/usr/lib/wine/wine"


def prefix_arch(prefix):
    """The architecture a wine prefix was made with: "win32" or "win64"."""
    with open(os.path.join(prefix, "system.reg"), encoding="latin-1") as f:
        for line in f:
            if line.startswith("#arch="):
                return line.strip()[len("#arch="):]
    raise RuntimeError("no architecture recorded in " + prefix)


def prefix_loader(prefix):
    """The loader of the prefix's own programs (reg.exe and the like)."""
    return "/usr/lib/wine/wine" if prefix_arch(prefix) == "win32" else "/usr/lib/wine/wine64"


class Driver:
    """The window driver, run as another wine program in the same prefix."""

    def __init__(self, paths):
        self.paths = paths

    # wdrive's answer "no" (a missing window, a wait that ran out); wine
    # ends a driver it could not start with 1.
    NO = 64

    def run(self, *args, timeout=60):
        """(exit code, output): 0 or NO. A driver that did not get to
        answer (wine could not start it, or it crashed) is no answer about
        the program: it is run again, and a third failure stops the run."""
        command = [wine_loader(self.paths.wdrive), self.paths.wdrive] + [str(a) for a in args]
        for attempt in range(3):
            proc = subprocess.run(command, env=wine_env(self.paths), capture_output=True,
                                  timeout=timeout)
            if proc.returncode in (0, self.NO):
                return proc.returncode, proc.stdout.decode("latin-1")
            failure = "wdrive %s ended with %d: %s" % (
                " ".join(command[2:]), proc.returncode,
                proc.stderr.decode("latin-1").strip()[-500:])
            print(failure, flush=True)
            time.sleep(2)
        raise RuntimeError(failure)

    def wait(self, title, seconds=30):
        return self.run("wait", title, seconds, timeout=seconds + 30)[0] == 0

    def gone(self, title, seconds=30):
        return self.run("gone", title, seconds, timeout=seconds + 30)[0] == 0

    def answers(self, title, ms=2000):
        return self.run("answers", title, ms)[0] == 0

    def text(self, title, control):
        code, out = self.run("text", title, control)
        return out if code == 0 else None

    def wait_text(self, title, control, text, seconds=30):
        escaped = text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
        return self.run("wait-text", title, control, escaped, seconds,
                        timeout=seconds + 30)[0] == 0

    def visible(self, title, control):
        code, out = self.run("visible", title, control)
        return code == 0 and out == "1"

    def checked(self, title, control):
        code, out = self.run("checked", title, control)
        return code == 0 and out == "1"

    def click(self, title, control):
        return self.run("click", title, control)[0] == 0

    def command(self, title, command_id):
        return self.run("command", title, command_id)[0] == 0

    def syscommand(self, title, what):
        return self.run("syscommand", title, what)[0] == 0

    def reg_get(self, subkey, name=""):
        code, out = self.run("reg-get", subkey, name)
        return out if code == 0 else None

    def reg_set(self, subkey, name, value):
        return self.run("reg-set", subkey, name, value)[0] == 0

    def reg_delete(self, subkey):
        return self.run("reg-delete", subkey)[0] == 0


class Nginx:
    """Serves a site folder on 127.0.0.1:47800 (and [::1]) with an access
    log of the paths asked. rate_paths maps a path prefix to a rate limit."""

    def __init__(self, work):
        self.dir = os.path.join(work, "nginx")
        self.proc = None

    def start(self, root, rate_limited=None, tls=(), plain=True, plain_locations=""):
        """tls: further servers of the same root over TLS, each a TlsServer;
        the access log line of each request names the port it came to.
        plain=False leaves out the plain http server on the site port (for
        a TLS server there); plain_locations: its further location lines."""
        os.makedirs(os.path.join(self.dir, "logs"), exist_ok=True)
        log = os.path.join(self.dir, "logs", "access.log")
        if os.path.exists(log):
            os.remove(log)
        slow = ""
        if rate_limited:
            slow = "location ~ \\.exe$ { limit_rate %s; }" % rate_limited
        servers = "".join("""
    server {
        listen 127.0.0.1:%(port)d ssl;
        listen [::1]:%(port)d ssl;
        ssl_certificate %(cert)s;
        ssl_certificate_key %(key)s;
        root %(root)s;
        %(locations)s
        %(slow)s
    }""" % dict(vars(server), root=root, slow=slow) for server in tls)
        if plain:
            servers = """
    server {
        listen 127.0.0.1:%(port)d;
        listen [::1]:%(port)d;
        root %(root)s;
        %(locations)s
        %(slow)s
    }""" % {"port": SITE_PORT, "root": root, "slow": slow,
           "locations": plain_locations} + servers
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""user root;
worker_processes 1;
daemon off;
pid %(dir)s/nginx.pid;
error_log %(dir)s/logs/error.log;
events { worker_connections 64; }
http {
    log_format paths '$request_uri $status $body_bytes_sent $request_time $server_port';
    access_log %(log)s paths;
    client_body_temp_path %(dir)s/tmp;
    proxy_temp_path %(dir)s/tmp;
    fastcgi_temp_path %(dir)s/tmp;
    uwsgi_temp_path %(dir)s/tmp;
    scgi_temp_path %(dir)s/tmp;
    types { application/octet-stream exe; text/plain txt; }
    default_type text/plain;%(servers)s
}
""" % {"dir": self.dir, "log": log, "servers": servers})
        os.makedirs(os.path.join(self.dir, "tmp"), exist_ok=True)
        self.log = log
        self.proc = subprocess.Popen(["nginx", "-p", self.dir, "-c", conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(os.path.join(self.dir, "nginx.pid")):
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        with open(os.path.join(self.dir, "logs", "error.log")) as f:
            raise RuntimeError("nginx did not start: " + f.read().strip()[-300:])

    def requests(self, port=SITE_PORT):
        """The requests to port so far, in order: (path, status, bytes
        sent, seconds)."""
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [(p, status, int(sent), float(seconds)) for p, status, sent, seconds, at
                    in (line.split() for line in f if line.strip()) if int(at) == port]

    def stop(self):
        if self.proc:
            self.proc.send_signal(signal.SIGQUIT)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
            self.proc = None


class TestServer:
    """The test web server of the Windows-side tests, on the site port, for
    scenarios that need a server that misbehaves. As a context manager it
    runs for the body of the with statement, stopped however that ends."""
    SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server",
                          "test_server.py")

    def __init__(self, work):
        self.port_file = os.path.join(work, "test-server", "port")

    def start(self):
        subprocess.run([sys.executable, self.SCRIPT, "start", "--port", str(SITE_PORT),
                        "--port-file", self.port_file, "--idle-timeout", "600"],
                       check=True, stdout=subprocess.DEVNULL)

    def set(self, path, body, **options):
        query = urllib.parse.urlencode(dict(path=path, **options))
        conn = http.client.HTTPConnection("127.0.0.1", SITE_PORT, timeout=10)
        conn.request("POST", "/_control/set?" + query, body)
        status = conn.getresponse().status
        conn.close()
        if status != 200:
            raise RuntimeError("the test server refused %s (%d)" % (path, status))

    def stop(self):
        subprocess.run([sys.executable, self.SCRIPT, "stop", "--port-file", self.port_file],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc_info):
        self.stop()


def trust_root(paths, der):
    """Adds a root to the machine's Root store of the scenario's prefix
    only (the host's trust store is never touched)."""
    proc = subprocess.run([wine_loader(paths.trust_root), paths.trust_root,
                           "Z:" + der.replace("/", "\\")],
                          env=wine_env(paths), capture_output=True, timeout=120)
    if proc.returncode != 0:
        raise RuntimeError("trust_root failed: %r" % proc.stderr.decode("latin-1"))


INTERNET_SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
PROXY_VALUES = ("ProxyEnable", "ProxyServer", "ProxyOverride")


def reg_tool(paths, *args):
    """Runs wine's reg.exe in the prefix; returns (exit code, output)."""
    proc = subprocess.run([prefix_loader(paths.prefix), "reg"] + list(args), env=wine_env(paths),
                          capture_output=True, timeout=120)
    return proc.returncode, proc.stdout.decode("latin-1")


def reg_value(paths, key, name):
    """(type, data) of a value as reg.exe shows it, or None when missing."""
    code, out = reg_tool(paths, "query", key, "/v", name)
    if code != 0:
        return None
    for line in out.splitlines():
        fields = line.split(None, 2)
        if len(fields) >= 2 and fields[0] == name and fields[1].startswith("REG_"):
            return fields[1], fields[2] if len(fields) > 2 else ""
    return None


def reg_put(paths, key, name, value):
    """Stores (type, data) as the value, or deletes it for None."""
    if value is None:
        code = reg_tool(paths, "delete", key, "/v", name, "/f")[0]
        return code == 0 or reg_value(paths, key, name) is None
    return reg_tool(paths, "add", key, "/v", name, "/t", value[0], "/d", value[1], "/f")[0] == 0


@contextlib.contextmanager
def system_proxy(paths, server):
    """The proxy server set in the prefix's Internet settings, for every
    address (no bypass list: "<local>" there would let WinInet go
    straight to a dotless name such as localhost), for the body of a with
    statement; the previous settings come back however that ends."""
    saved = {name: reg_value(paths, INTERNET_SETTINGS, name) for name in PROXY_VALUES}
    try:
        wanted = {"ProxyEnable": ("REG_DWORD", "1"), "ProxyServer": ("REG_SZ", server),
                  "ProxyOverride": None}
        for name, value in wanted.items():
            if not reg_put(paths, INTERNET_SETTINGS, name, value):
                raise RuntimeError("cannot set %s in the Internet settings" % name)
        yield
    finally:
        for name, value in saved.items():
            reg_put(paths, INTERNET_SETTINGS, name, value)


X11_DRIVER = "HKCU\\Software\\Wine\\X11 Driver"


def unmanaged_windows(paths, unmanaged):
    """Whether the prefix leaves its windows unmanaged. Under Xvfb no window
    manager runs, and wine waits two seconds for one each time a window is
    hidden (the language chooser closing, a run's window ending) unless
    they are; on a person's desktop they are managed, to be moved and
    decorated."""
    value = ("REG_SZ", "N") if unmanaged else None
    if not reg_put(paths, X11_DRIVER, "Managed", value):
        raise RuntimeError("cannot set how the prefix's windows are managed")


def free_port():
    """A loopback port that nothing listens on at the moment."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Proxy:
    """tinyproxy on a free loopback port, with its config and log in its own
    folder; the log names every request it carries. As a context manager it
    runs for the body of the with statement."""

    def __init__(self, work):
        self.dir = os.path.join(work, "proxy")
        self.log = os.path.join(self.dir, "tinyproxy.log")
        self.proc = None
        self.address = None

    def start(self):
        os.makedirs(self.dir, exist_ok=True)
        if os.path.exists(self.log):
            os.remove(self.log)
        port = free_port()
        conf = os.path.join(self.dir, "tinyproxy.conf")
        with open(conf, "w") as f:
            # LogLevel Connect logs each request line with its absolute URL.
            f.write('Port %d\nListen 127.0.0.1\nTimeout 120\nMaxClients 20\nAllow 127.0.0.1\n'
                    'LogFile "%s"\nLogLevel Connect\nPidFile "%s"\n'
                    % (port, self.log, os.path.join(self.dir, "tinyproxy.pid")))
        self.proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.address = "127.0.0.1:%d" % port
        for _ in range(100):
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("tinyproxy did not start on " + self.address)

    def urls(self):
        """The URLs of the requests carried so far, in order."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="latin-1") as f:
            return [line.split("): ", 1)[1].split()[1] for line in f
                    if "Request (file descriptor" in line]

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc_info):
        self.stop()


class ProgramRun:
    """polvex.exe started in its own scratch folder."""

    def __init__(self, paths, scratch, exe_name="polvex.exe", exe_path=None, env=None,
                 exe_dir=None):
        self.paths = paths
        self.scratch = scratch
        os.makedirs(scratch, exist_ok=True)
        self.exe = os.path.join(exe_dir or os.path.join(scratch, "bin"), exe_name)
        os.makedirs(os.path.dirname(self.exe), exist_ok=True)
        shutil.copyfile(exe_path or paths.polvex, self.exe)
        self.proc = subprocess.Popen([wine_loader(self.exe), self.exe], cwd=scratch,
                                     env=wine_env(paths, env), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def running(self):
        return self.proc.poll() is None

    def exit_code(self, timeout=60):
        """The exit code; None after killing a program that did not end
        within timeout seconds."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def file(self, name):
        return os.path.join(self.scratch, name)


def screenshot(paths, name):
    """Saves the screen as NAME.png in the screenshot folder, if one is set."""
    if not paths.shots:
        return None
    os.makedirs(paths.shots, exist_ok=True)
    time.sleep(0.5)  # a window just found may not have painted yet
    out = os.path.join(paths.shots, name + ".png")
    subprocess.run(["import", "-window", "root", "-trim", "+repage", out], capture_output=True, timeout=30)
    return out


def blank_screenshot(png):
    """Whether a screenshot shows nothing: a screen with a window on it has
    more than a few colours (text, frame, buttons)."""
    proc = subprocess.run(["identify", "-format", "%k", png], capture_output=True, text=True,
                          timeout=30)
    return proc.returncode != 0 or int(proc.stdout.strip() or 0) < 8
