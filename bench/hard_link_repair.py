#!/usr/bin/env python3
"""Hard-link repair of 1 000 files pushed at once, measured against an anchor taken in the same run
(release build).

The mount folder already holds 1 000 files of 64 KiB, each with a second name outside it; the
reference client pushes the cloud's copy of the same tree, so every file needs the repair (a copy
beside it, the metadata, a replace, the conversion). Printed: the time until the client has heard
the last "hardLinkRepairFinished", the anchor (`cp --preserve=all` of the same files, then a rename
of each over its original, the file-system work a repair cannot avoid), their ratio, and the
server's resident memory before the push and at its peak.

Usage: bench/hard_link_repair.py BUILD_BIN_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

FILES = 1000
SIZE = 64 << 10


def wait_for(condition, timeout=600.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


def memory_mib(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return float("nan")


def count_lines(path, prefix):
    with open(path, errors="replace") as log:
        return sum(1 for line in log if line.startswith(prefix))


def anchor_seconds(files, scratch):
    copies = os.path.join(scratch, "anchor")
    os.makedirs(copies)
    started = time.perf_counter()
    for index, source in enumerate(files):
        copy = os.path.join(copies, f"f{index:04}.tmp")
        subprocess.run(["cp", "--preserve=all", source, copy], check=True)
        os.replace(copy, os.path.join(copies, f"f{index:04}"))
    return time.perf_counter() - started


def main():
    bin_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-release/bin")
    scratch = tempfile.mkdtemp(prefix="nimbrel-bench-", dir=os.environ.get("BENCH_DIR"))
    env = dict(os.environ)
    env["NIMBREL_PLATFORM_HOME"] = os.path.join(scratch, "home")
    env["NIMBREL_RUNTIME_DIR"] = os.path.join(scratch, "run")
    # The filter service started for the mount ends with this script, never outliving it.
    env["NIMBREL_CFD_OWNER"] = str(os.getpid())
    cloud, mount, others = (os.path.join(scratch, name) for name in ("cloud", "mount", "others"))
    for folder in (cloud, mount, others):
        os.makedirs(folder)
    local_files = []
    for index in range(FILES):
        content = os.urandom(SIZE)
        for folder in (cloud, mount):
            with open(os.path.join(folder, f"f{index:04}.bin"), "wb") as out:
                out.write(content)
        local = os.path.join(mount, f"f{index:04}.bin")
        os.link(local, os.path.join(others, f"f{index:04}.bin"))
        local_files.append(local)
    anchor = anchor_seconds(local_files, scratch)

    client_log = os.path.join(scratch, "client.log")
    with open(client_log, "w") as log:
        client = subprocess.Popen([f"{bin_dir}/nimbrel-mainclient", "--mode", "1", "serve", "--cloud", cloud,
                                   "--mount", mount], env=env, stdout=log, stderr=subprocess.STDOUT)
    server = subprocess.Popen([f"{bin_dir}/RoziDavidoVodido"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        if not wait_for(lambda: count_lines(client_log, "mounted ") == 1, 60):
            sys.exit("the folder was not mounted")
        before = memory_mib(server.pid, "VmRSS")
        started = time.perf_counter()
        if not wait_for(lambda: count_lines(client_log, "request hardLinkRepairFinished") >= FILES):
            sys.exit(f"only {count_lines(client_log, 'request hardLinkRepairFinished')} of {FILES} repairs finished")
        repair = time.perf_counter() - started
        peak = memory_mib(server.pid, "VmHWM")
        single = sum(1 for name in os.listdir(others) if os.stat(os.path.join(others, name)).st_nlink == 1)
        leftovers = [name for name in os.listdir(mount) if name.endswith(".hardlink_repair.tmp")]
        print(f"hard-link repair of {FILES} files of {SIZE >> 10} KiB: {repair:.2f} s "
              f"({FILES / repair:.0f} files/s); anchor cp --preserve=all + rename: {anchor:.2f} s "
              f"({FILES / anchor:.0f} files/s); ratio {anchor / repair:.2f}")
        print(f"server RSS before the push {before:.1f} MiB, peak {peak:.1f} MiB; other names left with one link: "
              f"{single} of {FILES}; temporary copies left: {len(leftovers)}")
    finally:
        for process in (server, client):
            process.kill()
            process.wait()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
