"""What several kinds of scenario share: the scenario's context (its
folder, site, program runs and window driver), the failed check, and the
test web server's hostile site with the runs that end on it."""
import contextlib
import filecmp
import http.client
import os
import shutil
import subprocess
import time

import harness as h
import site_config


NEWS = ["Polvex end-to-end news one", "Polvex end-to-end news two",
        "Polvex end-to-end news three"]


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


class Context:
    def __init__(self, paths, name):
        self.paths = paths
        self.name = name
        self.root = os.path.join(paths.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        self.driver = h.Driver(paths)
        self.nginx = h.Nginx(self.root)
        self.runs = 0
        self.programs = []
        # A 32-bit program sees HKLM\SOFTWARE as the 32-bit view of a
        # 64-bit prefix, as on 64-bit Windows, where a 64-bit driver reads the
        # 64-bit one; a 32-bit prefix has one view, as 32-bit Windows has.
        self.wow64 = (h.wine_loader(paths.polvex).endswith("/wine")
                      and h.prefix_arch(paths.prefix) == "win64")
        self.tag_key = self.key(h.TAG_KEY)
        self.uninstall_key = self.key(h.UNINSTALL_KEY)

    def key(self, path):
        if self.wow64:
            return path.replace("SOFTWARE\\", "SOFTWARE\\WOW6432Node\\", 1)
        return path

    def build_site(self, **layout):
        """Builds a site into this scenario's folder; returns its root."""
        site = os.path.join(self.root, "site")
        shutil.rmtree(site, ignore_errors=True)
        layout.setdefault("installer", self.paths.installer)
        layout.setdefault("news", NEWS)
        conf = os.path.join(self.root, "site.conf")
        with open(conf, "w") as f:
            f.write(site_config.render(**layout))
        proc = subprocess.run([self.paths.dlmtool, "site", "build", conf, site],
                              capture_output=True, text=True)
        check(proc.returncode == 0, "site build failed: " + proc.stderr)
        return site

    def serve(self, site, rate_limited=None):
        self.nginx.start(site, rate_limited)

    def start(self, exe_name="polvex.exe", exe_path=None, env=None, scratch=None, exe_dir=None):
        """Starts the program in a scratch folder of its own (or the one
        given, with the program kept outside it, in exe_dir if given)."""
        self.runs += 1
        if not scratch:
            scratch = os.path.join(self.root, "run%d" % self.runs)
        elif not exe_dir:
            exe_dir = os.path.join(self.root, "bin%d" % self.runs)
        program = h.ProgramRun(self.paths, scratch, exe_name, exe_path, env, exe_dir)
        self.programs.append(program)
        return program

    def choose(self, code=None):
        """Waits for the chooser, checks a language if asked, presses OK."""
        check(self.driver.wait(h.CHOOSER, h.START_SECONDS), "the language chooser did not open")
        if code:
            check(self.driver.click(h.CHOOSER, h.LANGUAGE_BUTTON[code]), "could not check " + code)
            time.sleep(0.3)
        check(self.driver.click(h.CHOOSER, h.IDOK), "could not press OK in the chooser")

    def expect_error(self, run, text, shot=None, seconds=60):
        """The window shows text with OK; pressing OK ends the run with 0."""
        d = self.driver
        check(d.wait_text(h.WINDOW, h.IDC_STATUS, text, seconds),
              "status box is %r, not %r" % (d.text(h.WINDOW, h.IDC_STATUS), text))
        if shot:
            h.screenshot(self.paths, shot)
        check(d.visible(h.WINDOW, h.IDOK), "the OK button is not visible")
        check(run.running(), "the program ended without OK")
        check(d.click(h.WINDOW, h.IDOK), "could not press OK")
        code = run.exit_code(timeout=30)
        check(code == 0, "exit code %r after OK" % code)

    def expect_success(self, run, installer, seconds=60, file_name="pinstall.exe"):
        """The run downloads, starts the installer from its scratch folder
        and ends with 0 within seconds; file_name is what the installer file
        is called by then. (The text "Preparing to run installation..." shows
        only for the moment between the download's end and the start of the
        installer, too short to read reliably from outside.)"""
        code = run.exit_code(timeout=seconds)
        check(code == 0, "exit code %r" % code)
        check(filecmp.cmp(run.file(file_name), installer, shallow=False),
              file_name + " differs from the served installer")
        # The installer creates its marker, then writes it whole (its last
        # line is the arguments') and closes it: read it once it is whole.
        marker = run.file("installer-ran.txt")
        content = ""
        for _ in range(100):
            if os.path.exists(marker):
                with open(marker, encoding="latin-1") as f:
                    content = f.read()
                if "\narguments=" in content and content.endswith("\n"):
                    break
            time.sleep(0.1)
        check(os.path.exists(marker), "the installer did not run")
        check("pinstall.exe" in content.lower(), "marker names another program: " + content)
        # The installer's ANSI calls spell what the code page cannot with "?".
        scratch_win = os.path.basename(run.scratch).encode("cp1252", "replace").decode(
            "cp1252").lower()
        check(scratch_win in content.lower().split("directory=")[1].splitlines()[0],
              "the installer ran elsewhere: " + content)

    def asked(self):
        return [request[0] for request in self.nginx.requests()]

    def close(self):
        # A failed scenario may leave its program running, holding the
        # one-copy mutex that the next scenario's program would meet.
        for program in self.programs:
            if program.running():
                program.exit_code(timeout=0)
        self.nginx.stop()


def installer_path(ctx, site, prefix, code):
    return os.path.join(site, "dl", prefix + code + ".exe")


def stamp(ctx, identifier, suffix):
    """A copy of the program stamped with dlmtool; returns its path."""
    stamped = os.path.join(ctx.root, "stamped.exe")
    proc = subprocess.run([ctx.paths.dlmtool, "stamp", ctx.paths.polvex, "--id", identifier,
                           "--suffix", suffix, "-o", stamped], capture_output=True, text=True)
    check(proc.returncode == 0, "stamp failed: " + proc.stderr)
    return stamped


def big_installer(ctx):
    """The demo installer padded to 1 MiB."""
    big = os.path.join(ctx.root, "big-installer.exe")
    with open(big, "wb") as f:
        f.write(demo_installer(ctx).ljust(1024 * 1024, b"\0"))
    return big


SITE = "http://127.0.0.1:%d/" % h.SITE_PORT
DIRECTORY = SITE + "dl/"


ANSWER = "iFlag=0|sDlurl=" + DIRECTORY


def enciphered(ctx, text):
    return subprocess.run([ctx.paths.dlmtool, "encipher"], input=text.encode("latin-1"),
                          capture_output=True, check=True).stdout


@contextlib.contextmanager
def hostile_server(ctx, reply=ANSWER, manifest=None, installer=None, **installer_options):
    """The test web server on the site port for the body of a with
    statement, with reply as the first bootstrap reply (the second bootstrap
    URL gets a 404 page), and the English package: by default the demo
    installer, a real program (a file that merely starts with "MZ" is
    handed by wine to its 16-bit host, and refused by 64-bit Windows)."""
    if manifest is None:
        manifest = b"%d\nHostile test\n" % len(demo_installer(ctx))
    if installer is None:
        installer = demo_installer(ctx)
    with h.TestServer(ctx.root) as server:
        server.set("/dlm/primary.txt", enciphered(ctx, reply))
        server.set("/dl/p_Vandel_sys_ENG.ENG", manifest)
        server.set("/dl/p_Vandel_sys_ENG.exe", installer, **installer_options)
        yield server


def run_to_error(ctx, text, scratch=None, seconds=60, shot=None):
    run = ctx.start(scratch=scratch)
    ctx.choose()
    ctx.expect_error(run, text, shot=shot, seconds=seconds)
    return run


def check_wrote_at_most_installer(run):
    extra = set(os.listdir(run.scratch)) - {"bin", "pinstall.exe"}
    check(not extra, "wrote %r" % sorted(extra))


def served_paths():
    """The paths the test web server was asked for, oldest first."""
    conn = http.client.HTTPConnection("127.0.0.1", h.SITE_PORT, timeout=10)
    conn.request("GET", "/_control/log")
    lines = conn.getresponse().read().decode("latin-1").splitlines()
    conn.close()
    return [line.split("\t")[1] for line in lines]


def demo_installer(ctx):
    with open(ctx.paths.installer, "rb") as f:
        return f.read()
