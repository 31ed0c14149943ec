#!/usr/bin/env python3
"""Converts a synthetic export with the command-line front end and prints, all measured in
the same run on the same export: messages and input MB per second, the ratio to the I/O floor,
the ratios to readpst and pffexport reading our PST back, the peak resident memory, and the
checker's verdict.

    bench/run_bench.py                      # N = 10,000
    bench/run_bench.py --messages 100000
    bench/run_bench.py --messages 1000000 --text-only  # small plain-text mail only
    bench/run_bench.py --messages 2000 --callgrind   # profile instead of timing
    bench/run_bench.py --messages 1000 --archive     # also from a .tgz of the export

The export is generated once per (N, seed) under --work and reused by later runs.
Caches cannot be dropped here (no root on the host's page cache), so the read floor is the
second of two reads of every input file: a warm-cache floor, which favours the floor.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
CHUNK = 1 << 20


def log(text):
    print(text, flush=True)


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def input_files(root):
    """Every regular file of the export, with its size; and the .eml count."""
    files, emls = [], 0
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            files.append((path, st.st_size))
            emls += name.endswith(".eml")
    return files, emls


def read_all(files):
    buf = bytearray(CHUNK)
    started = time.monotonic()
    with open(os.devnull, "wb"):
        for path, _ in files:
            with open(path, "rb", buffering=0) as f:
                while f.readinto(buf):
                    pass
    return time.monotonic() - started


def write_floor(path, size):
    """Time to write `size` bytes and fsync them: the write half of the I/O floor."""
    block = os.urandom(CHUNK)
    started = time.monotonic()
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    try:
        left = size
        while left > 0:
            left -= os.write(fd, block[:min(left, CHUNK)])
        os.fsync(fd)
    finally:
        os.close(fd)
    elapsed = time.monotonic() - started
    os.unlink(path)
    return elapsed


class Timed:
    """A command run under /usr/bin/time -v: wall seconds, CPU seconds, peak RSS, exit code."""

    def __init__(self, argv, log_path):
        started = time.monotonic()
        with open(log_path, "wb") as out:
            proc = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=out,
                                  stderr=subprocess.PIPE, check=False)
        self.wall = time.monotonic() - started
        self.code = proc.returncode
        err = proc.stderr.decode(errors="replace")
        self.stderr_tail = "\n".join(err.splitlines()[:-23][-5:])

        def field(name):
            m = re.search(r"^\s*%s: (.*)$" % re.escape(name), err, re.M)
            if not m:
                raise RuntimeError("/usr/bin/time printed no '%s' for %s" % (name, argv[0]))
            return m.group(1)

        self.user = float(field("User time (seconds)"))
        self.system = float(field("System time (seconds)"))
        self.cpu = self.user + self.system
        self.rss_mb = int(field("Maximum resident set size (kbytes)")) / 1024.0


def run_name(args):
    """Names the export and the scratch folder of one N, seed and mode."""
    mode = "-text" if args.text_only else "-att%dk" % args.attachment_kb if args.attachment_kb else ""
    return "%d-s%d%s" % (args.messages, args.seed, mode)


def make_export(args):
    export = args.export or os.path.join(args.work, "export-%s" % run_name(args))
    done = export + ".complete"
    if args.export or os.path.exists(done):
        return export
    log("generating %s ..." % export)
    subprocess.run([sys.executable, os.path.join(HERE, "make_export.py"), "--messages",
                    str(args.messages), "--seed", str(args.seed), "--out", export, "--force"]
                   + (["--text-only"] if args.text_only else [])
                   + (["--attachment-kb", str(args.attachment_kb)] if args.attachment_kb else []),
                   check=True)
    open(done, "w").close()
    return export


def make_archive(export):
    """The export as a .tgz beside it, made once: tar czf of its contents."""
    tgz = export + ".tgz"
    if not os.path.exists(tgz):
        log("packing %s ..." % tgz)
        subprocess.run(["tar", "czf", tgz + ".part", "-C", export, "."], check=True)
        os.rename(tgz + ".part", tgz)
    return tgz


def fresh_dir(path):
    if os.path.lexists(path):
        shutil.rmtree(path)
    os.makedirs(path)
    return path


def count_files(root, suffix):
    return sum(name.endswith(suffix) for _, _, names in os.walk(root) for name in names)


def count_message_dirs(root):
    """pffexport writes one MessageNNNNN folder per message."""
    pattern = re.compile(r"^Message\d+$")
    return sum(bool(pattern.match(d)) for _, dirs, _ in os.walk(root) for d in dirs)


def callgrind(args, mailvane, export):
    out = fresh_dir(os.path.join(args.work, "out-callgrind"))
    profile = os.path.join(args.work, "callgrind.out")
    log("profiling with callgrind (slow) ...")
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + profile,
                    mailvane, "--quiet", export, out], check=False,
                   stdout=subprocess.DEVNULL)
    report = subprocess.run(["callgrind_annotate", "--inclusive=no", profile],
                            capture_output=True, text=True, check=True).stdout
    log("\n".join(report.splitlines()[:60]))
    report = subprocess.run(["callgrind_annotate", "--inclusive=yes", profile],
                            capture_output=True, text=True, check=True).stdout
    log("\n".join(report.splitlines()[:60]))
    log("profile kept in %s" % profile)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--messages", type=int, default=10_000, help="N (default 10,000)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--work", default="/tmp/mailvane-bench", help="scratch folder")
    parser.add_argument("--text-only", action="store_true",
                        help="generate small plain-text messages only (a million fit in ~5 GB)")
    parser.add_argument("--attachment-kb", type=int, default=0,
                        help="every message with one attachment of this size (make_export.py)")
    parser.add_argument("--export", help="use this export instead of a generated one")
    parser.add_argument("--build", default=os.path.join(REPO, "build"),
                        help="build folder holding src/mailvane (default: the preset's build/)")
    parser.add_argument("--checker", help="mailvane-pstcheck to use (default: the build's)")
    parser.add_argument("--no-readers", action="store_true", help="skip readpst and pffexport")
    parser.add_argument("--keep", action="store_true", help="keep the PST and reader output")
    parser.add_argument("--callgrind", action="store_true", help="profile the conversion only")
    parser.add_argument("--threads", type=int, help="mailvane --threads N (default: its own)")
    parser.add_argument("--archive", action="store_true",
                        help="also convert the export as a .tgz (made once with tar czf) and "
                             "print its peak memory beside the folder's")
    args = parser.parse_args()

    mailvane = os.path.join(args.build, "src", "mailvane")
    checker = args.checker or os.path.join(args.build, "src", "mailvane-pstcheck")
    for tool in (mailvane, checker):
        if not os.access(tool, os.X_OK):
            parser.error("%s is missing: cmake --preset default && cmake --build --preset "
                         "default --target mailvane mailvane-pstcheck" % tool)
    os.makedirs(args.work, exist_ok=True)
    export = make_export(args)
    if args.callgrind:
        callgrind(args, mailvane, export)
        return 0

    # Scratch output of this N and seed only, so runs of other sizes may share --work.
    args.work = os.path.join(args.work, "run-%s" % run_name(args))
    os.makedirs(args.work, exist_ok=True)
    files, emls = input_files(export)
    in_bytes = sum(size for _, size in files)
    log("export %s: %d files, %d messages, %.1f MB; load average %s"
        % (export, len(files), emls, in_bytes / 1e6, loadavg()))

    read_all(files)  # warms the page cache; the floor is the second read
    read_s = read_all(files)

    out = fresh_dir(os.path.join(args.work, "out"))
    threads = ["--threads", str(args.threads)] if args.threads else []
    conv = Timed([mailvane, "--quiet"] + threads + [export, out],
                 os.path.join(args.work, "mailvane.log"))
    psts = glob.glob(os.path.join(out, "*.pst"))
    if len(psts) != 1:
        log("conversion exit %d, %d .pst files in %s; stderr:\n%s"
            % (conv.code, len(psts), out, conv.stderr_tail))
        return 1
    pst = psts[0]
    pst_bytes = os.path.getsize(pst)
    write_s = write_floor(os.path.join(args.work, "floor.bin"), pst_bytes)
    floor_s = read_s + write_s

    archive = None
    if args.archive:
        tgz = make_archive(export)
        arch_out = fresh_dir(os.path.join(args.work, "out-archive"))
        archive = (tgz, Timed([mailvane, "--quiet"] + threads + [tgz, arch_out],
                              os.path.join(args.work, "mailvane-archive.log")))
        if not args.keep:
            shutil.rmtree(arch_out)

    check = subprocess.run([checker, pst], capture_output=True, text=True, check=False)
    verdict = (check.stdout.strip().splitlines() or ["(no output)"])[-1]

    readers = {}
    if not args.no_readers:
        rp_out = fresh_dir(os.path.join(args.work, "readpst"))
        readers["readpst"] = (Timed(["readpst", "-j", "0", "-e", "-8", "-D", "-o", rp_out, pst],
                                    os.path.join(args.work, "readpst.log")),
                              count_files(rp_out, ".eml"))
        if not args.keep:
            shutil.rmtree(rp_out)
        pf_out = os.path.join(args.work, "pffexport")
        shutil.rmtree(pf_out + ".export", ignore_errors=True)
        readers["pffexport"] = (Timed(["pffexport", "-q", "-f", "all", "-t", pf_out, pst],
                                      os.path.join(args.work, "pffexport.log")),
                                count_message_dirs(pf_out + ".export"))
        if not args.keep:
            shutil.rmtree(pf_out + ".export", ignore_errors=True)

    log("")
    log("N = %d messages (seed %d), %d input files, %.1f MB in, PST %.1f MB"
        % (emls, args.seed, len(files), in_bytes / 1e6, pst_bytes / 1e6))
    log("conversion:      %.2f s wall, %.2f s CPU (user %.2f, kernel %.2f; %.3f ms a message), "
        "exit %d, peak RSS %.1f MB"
        % (conv.wall, conv.cpu, conv.user, conv.system, 1000.0 * conv.cpu / max(emls, 1),
           conv.code, conv.rss_mb))
    log("throughput:      %.0f messages/s, %.1f input MB/s (per CPU second: %.0f messages, "
        "%.1f MB)" % (emls / conv.wall, in_bytes / 1e6 / conv.wall, emls / conv.cpu,
                      in_bytes / 1e6 / conv.cpu))
    log("I/O floor:       %.2f s = read %.2f s (second, warm-cache read of every input file)"
        " + write %.2f s (write and fsync %.1f MB)" % (floor_s, read_s, write_s, pst_bytes / 1e6))
    log("ratio to floor:  %.2f" % (conv.wall / floor_s))
    for name, (timed, items) in readers.items():
        log("%-16s %.2f s wall, %.2f s CPU, exit %d, %d messages out, peak RSS %.1f MB; "
            "our time / theirs = %.2f wall, %.2f CPU"
            % (name + ":", timed.wall, timed.cpu, timed.code, items, timed.rss_mb,
               conv.wall / timed.wall, conv.cpu / timed.cpu))
    if archive:
        tgz, timed = archive
        log("from the .tgz:   %.2f s wall, %.2f s CPU, exit %d, peak RSS %.1f MB (%.1f MB over "
            "the folder's) for %s, %.1f MB"
            % (timed.wall, timed.cpu, timed.code, timed.rss_mb, timed.rss_mb - conv.rss_mb,
               tgz, os.path.getsize(tgz) / 1e6))
    log("checker:         exit %d: %s" % (check.returncode, verdict))
    log("load average:    %s (2 cores, shared: wall figures include waiting for a core; "
        "our CPU share was %.0f%%)" % (loadavg(), 100.0 * conv.cpu / conv.wall))
    if not args.keep:
        os.unlink(pst)
    archive_ok = archive is None or archive[1].code in (0, 1)
    return 0 if conv.code in (0, 1) and check.returncode == 0 and archive_ok else 1


if __name__ == "__main__":
    sys.exit(main())
