"""Served sites: site build, then site check of the served site as it is
and as it breaks, and two releases published in the documented order."""
import os
import shutil

from folder_server import Server
from served_site.common import build, check, config_text, lines_of, program_asking, write


def served_sites(tool, work):
    site_root = os.path.join(work, "root")
    os.makedirs(site_root)
    server = Server(site_root)
    try:
        base = server.base
        installer = os.path.join(work, "installer.exe")
        size = 3 * 1024 * 1024 + 17  # several MiB, not a multiple of any chunk
        write(installer, b"MZ" + bytes(range(256)) * (size // 256) + b"x" * (size % 256 - 2))
        replies = ("reply dlm/primary.txt direct\n"
                   "reply dlm/alt1.txt redirect dlm/hop.txt\n"
                   "reply dlm/hop.txt direct\n")
        proc, built = build(tool, work, "good", base, "installer.exe", replies)
        check(proc.returncode == 0, "site build exits 0", proc.stderr.decode())
        check("download directory: %sdl/ (%s/dl/)" % (base, built) in lines_of(proc),
              "site build names the download directory", proc.stdout.decode())
        os.rmdir(site_root)
        shutil.copytree(built, site_root, copy_function=os.link)

        proc = tool.run("site", "check", base + "dlm/primary.txt")
        out = lines_of(proc)
        check(proc.returncode == 0, "a good site passes", proc.stdout.decode())
        check(sum(1 for l in out if l.startswith("ok   p_Vandel_")) == 22
              and "ok   p_Vandel_sys_ENG.exe %d bytes" % size in out, "22 packages are ok",
              proc.stdout.decode())
        check(out[-2] == "22 packages: 22 ok" and out[-1] == "verdict: ok (1 of 1 chain reaches a "
              "download directory; 22 of 22 packages fine)", "the summary and the verdict",
              "\n".join(out[-2:]))

        # The URLs a build of the program asks, read from it.
        program = os.path.join(work, "asking.exe")
        write(program, program_asking(tool, base + "dlm/primary.txt", base + "dlm/alt1.txt"))
        proc = tool.run("site", "check", "--program", program)
        out = lines_of(proc)
        check(proc.returncode == 0 and out[0] == "chain 1: %sdlm/primary.txt" % base
              and "chain 2: %sdlm/alt1.txt" % base in out, "site check --program",
              proc.stdout.decode()[:400] + proc.stderr.decode())

        # As the program: the second bootstrap URL is asked when the first
        # gives nothing, and HTTP redirections are followed as the program's
        # client does. Checked on its own, the dead first chain fails.
        proc = tool.run("site", "check", base + "dlm/absent.txt", base + "moved/dlm/alt1.txt",
                        "--as-program")
        out = lines_of(proc)
        check(proc.returncode == 0, "the second bootstrap URL and a redirection",
              proc.stdout.decode())
        check(out[1].startswith("  %sdlm/absent.txt -> HTTP 404" % base)
              and out[2].startswith("  %smoved/dlm/alt1.txt -> HTTP 200, iFlag=1|sUrl=" % base)
              and out[3] == "  %sdlm/hop.txt -> HTTP 200, iFlag=0|sDlurl=%sdl/" % (base, base),
              "the chain lists every URL fetched", proc.stdout.decode())

        # Installers whose server refuses HEAD are counted as they arrive.
        enciphered = tool.run("reply", "iFlag=0", "sDlurl=%snohead/dl/" % base).stdout
        write(os.path.join(site_root, "dlm", "nohead.txt"), enciphered)
        proc = tool.run("site", "check", base + "dlm/nohead.txt")
        check(proc.returncode == 0 and "ok   p_Vandel_reg_SWE.exe %d bytes" % size in lines_of(proc),
              "a server that refuses HEAD", proc.stdout.decode()[-600:])

        # A directory without its final '/', written by other means: one
        # line that says why, not 22 manifests missing.
        write(os.path.join(site_root, "dlm", "noslash.txt"),
              tool.run("encipher", stdin=b"iFlag=0|sDlurl=" + base.encode() + b"dl").stdout)
        proc = tool.run("site", "check", base + "dlm/noslash.txt")
        check(proc.returncode == 1 and "FAIL sDlurl '%sdl' does not end with '/': the program would "
              "fetch %sdlp_Vandel_reg_CHT.CHT" % (base, base) in lines_of(proc)
              and sum("p_Vandel_" in l for l in lines_of(proc)) == 1,
              "site check of an sDlurl without '/'", proc.stdout.decode())

        # A reply is read only up to 22000 bytes: a field beyond is not seen.
        for pad, found in ((22000 - len("iFlag=0|sDlurl=%sdl/|x=" % base), True),
                           (22000 - len("iFlag=0|x=|"), False)):
            record = ("iFlag=0|sDlurl=%sdl/|x=" % base + "p" * pad) if found else \
                     ("iFlag=0|x=" + "p" * pad + "|sDlurl=%sdl/" % base)
            enciphered = tool.run("reply", *record.split("|")).stdout
            write(os.path.join(site_root, "dlm", "long.txt"), enciphered)
            proc = tool.run("site", "check", base + "dlm/long.txt", "--as-program")
            passed = proc.returncode == 0 if found else (
                proc.returncode == 1 and "FAIL no download directory: both chains ended "
                "without one" in lines_of(proc))
            check(passed,
                  "a field %s the first 22000 bytes of a reply" % ("within" if found else "beyond"),
                  proc.stdout.decode()[:600])

        # Broken: one installer gone, one shorter than announced (written
        # anew, not through its hard links), one manifest gone.
        dl = os.path.join(site_root, "dl")
        os.remove(os.path.join(dl, "p_Vandel_reg_DEU.exe"))
        os.remove(os.path.join(dl, "p_Vandel_sys_FRE.exe"))
        write(os.path.join(dl, "p_Vandel_sys_FRE.exe"), b"MZ short")
        os.remove(os.path.join(dl, "p_Vandel_reg_KOR.KOR"))
        proc = tool.run("site", "check", base + "dlm/primary.txt")
        out = lines_of(proc)
        check(proc.returncode == 1, "a broken site fails", proc.stdout.decode())
        for line in ("FAIL p_Vandel_reg_DEU.exe: installer answers HTTP 404",
                     "FAIL p_Vandel_sys_FRE.exe: size %d in manifest, 8 served" % size):
            check(line in out, "reports '%s'" % line, proc.stdout.decode())
        check(any(l.startswith("FAIL p_Vandel_reg_KOR.exe: manifest p_Vandel_reg_KOR.KOR starts "
                               "with '<!DOCTYPE") and l.endswith("(HTTP 404)") for l in out),
              "a missing manifest is reported", proc.stdout.decode())
        check(out[-2] == "22 packages: 19 ok, 3 failed" and out[-1].startswith("verdict: FAIL "),
              "the summary counts the failures", "\n".join(out[-2:]))
    finally:
        server.stop()

    # Nothing listens on that port any more.
    proc = tool.run("site", "check", "--as-program", base + "dlm/primary.txt")
    out = lines_of(proc)
    check(proc.returncode == 1 and "FAIL no download directory: both chains ended without one"
          in out and out[1].startswith("  %sdlm/primary.txt -> cannot be opened (" % base),
          "an unreachable server", proc.stdout.decode())


def release_order(tool, work):
    """Two releases published in the documented order: the new download
    directory first, the reply pages last, the old directory retired after.
    At every step the site passes, wholly on the old release or the new,
    and the partners' links, which every release shares, keep working: r2
    drops the partner CD34."""
    work = os.path.join(work, "releases")
    site_root = os.path.join(work, "served")
    os.makedirs(site_root)
    server = Server(site_root)
    try:
        replies = "reply dlm/primary.txt direct\nreply dlm/alt1.txt redirect dlm/primary.txt\n"
        program = os.path.join(work, "polvex.exe")
        write(program, program_asking(tool, server.base + "dlm/primary.txt", server.base + "dlm/alt1.txt"))
        built = {}
        for release, body, tags in (("r1", b"MZ release one", "tag AB12 eu\ntag CD34\n"),
                                    ("r2", b"MZ release two, larger", "tag AB12 eu\n")):
            write(os.path.join(work, release + ".exe"), body)
            conf = os.path.join(work, release + ".conf")
            write(conf, (config_text(server.base, release + ".exe", replies) + "program polvex.exe\n" +
                         tags).encode())
            built[release] = os.path.join(work, "out-" + release)
            proc = tool.run("site", "build", conf, built[release], "--release", release)
            check(proc.returncode == 0 and lines_of(proc)[-3:] == [
                "upload first: dl/%s/ (release %s)" % (release, release),
                "and the partner copies: dl/partners/ (whole: delete on the server any copy it "
                "no longer holds)",
                "then the reply pages: dlm/primary.txt dlm/alt1.txt"],
                "site build --release %s prints the upload order" % release, proc.stdout.decode())
        # A release folder of an earlier build is refused; the shared partner
        # folder is written whole, without the dropped partner's copy.
        proc = tool.run("site", "build", conf, built["r2"], "--release", "r2")
        check(proc.returncode == 1 and "the release folder %s already holds files"
              % os.path.join(built["r2"], "dl/r2/") in proc.stderr.decode(),
              "site build --release into a release folder that holds files: refused", proc.stderr.decode())
        again = os.path.join(work, "out-again")
        shutil.copytree(built["r1"], again)
        proc = tool.run("site", "build", conf, again, "--release", "r2")
        check(proc.returncode == 0 and sorted(os.listdir(os.path.join(again, "dl/partners"))) ==
              ["index.txt", "polvexAB12_eu.exe"],
              "site build: the partner folder is written whole, a dropped partner's copy removed",
              repr(os.listdir(os.path.join(again, "dl/partners"))))

        def served(step, release, size, *args):
            proc = tool.run("site", "check", *(args or (server.base + "dlm/primary.txt",
                                                        server.base + "dlm/alt1.txt")))
            out = lines_of(proc)
            check(proc.returncode == 0 and ("ok   chain 1 reaches %sdl/%s/" % (server.base, release) in out)
                  and "ok   p_Vandel_reg_ENG.exe %d bytes" % size in out and
                  "ok   ../partners/polvexAB12_eu.exe tag AB12_eu, not signed" in out,
                  "release order, %s: users on %s" % (step, release), proc.stdout.decode()[-600:])

        def upload(folder):
            shutil.copytree(os.path.join(built[folder[0]], folder[1]),
                            os.path.join(site_root, folder[1]), dirs_exist_ok=True)
        upload(("r1", "dl/r1"))
        upload(("r1", "dl/partners"))
        upload(("r1", "dlm"))
        served("first release", "r1", 14)
        upload(("r2", "dl/r2"))
        served("new directory uploaded", "r1", 14)
        # The documented check before the switch: the new first page under a
        # name no program asks, with the build the partners hand out.
        write(os.path.join(site_root, "dlm/next.txt"),
              open(os.path.join(built["r2"], "dlm/primary.txt"), "rb").read())
        served("checked before the switch", "r2", 22, server.base + "dlm/next.txt", "--program", program)
        upload(("r2", "dlm"))
        served("reply pages uploaded", "r2", 22)
        shutil.rmtree(os.path.join(site_root, "dl", "r1"))
        served("old directory retired", "r2", 22)
    finally:
        server.stop()
