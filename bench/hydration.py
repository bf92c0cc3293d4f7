#!/usr/bin/env python3
"""Hydration on open, measured against anchors taken in the same run (release build).

1. Cold `nimbrel-cf open --read` of a 256 MiB placeholder from the reference cloud, against curl
   fetching the same URL into a file on the same disk right before it: throughput and ratio.
2. Open to first byte of 200 cold 4 KiB placeholders (metadata round trip included), as an
   application sees it through the filter mount: this process opens each file and reads one byte;
   median and p99, against the same open and read of a file already local.
3. Peak resident memory of the content server (the reference client) and of the Nimbrel server
   during the 256 MiB hydration.

Usage: bench/hydration.py BUILD_BIN_DIR
"""
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BIG = 256 << 20
SMALL = 4096
SMALL_COUNT = 200


def wait_for(condition, timeout=60.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def timed(args, env):
    started = time.perf_counter()
    result = subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - started
    if result.returncode != 0:
        sys.exit(f"{' '.join(args)} failed: {result.stderr.decode()}")
    return elapsed


def first_byte(path):
    """Seconds from open to the first byte read, in this process."""
    started = time.perf_counter()
    fd = os.open(path, os.O_RDONLY)
    try:
        if len(os.read(fd, 1)) != 1:
            sys.exit(f"{path}: no byte read")
    finally:
        os.close(fd)
    return time.perf_counter() - started


def main():
    bin_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-release/bin")
    scratch = tempfile.mkdtemp(prefix="nimbrel-bench-", dir=os.environ.get("BENCH_DIR"))
    env = dict(os.environ)
    env["NIMBREL_PLATFORM_HOME"] = os.path.join(scratch, "home")
    env["NIMBREL_RUNTIME_DIR"] = os.path.join(scratch, "run")
    # The filter service the server starts ends with this script, and unmounts the root then.
    env["NIMBREL_CFD_OWNER"] = str(os.getpid())
    cloud = os.path.join(scratch, "cloud")
    mount = os.path.join(scratch, "mount")
    for folder in (cloud, mount, os.path.join(cloud, "small")):
        os.makedirs(folder)
    with open(os.path.join(cloud, "big.bin"), "wb") as big:
        for _ in range(BIG >> 20):
            big.write(os.urandom(1 << 20))
    for i in range(SMALL_COUNT + 1):
        with open(os.path.join(cloud, "small", f"s{i:03}.bin"), "wb") as small:
            small.write(os.urandom(SMALL))

    client_log = open(os.path.join(scratch, "client.log"), "w+")
    client = subprocess.Popen([f"{bin_dir}/nimbrel-mainclient", "--mode", "1", "serve", "--cloud", cloud,
                               "--mount", mount], env=env, stdout=client_log, stderr=subprocess.STDOUT)
    server = subprocess.Popen([f"{bin_dir}/RoziDavidoVodido"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        big_path = os.path.join(mount, "big.bin")
        small_paths = [os.path.join(mount, "small", f"s{i:03}.bin") for i in range(SMALL_COUNT + 1)]
        if not wait_for(lambda: all(os.path.exists(p) for p in small_paths + [big_path])):
            sys.exit("the cloud was not projected")
        def content_port():
            client_log.seek(0)
            found = re.search(r"content server on http://127\.0\.0\.1:(\d+)/", client_log.read())
            return found and found.group(1)
        wait_for(content_port)
        cf = f"{bin_dir}/nimbrel-cf"

        curl_target = os.path.join(scratch, "curl.bin")
        curl_seconds = timed(["curl", "-sf", "-o", curl_target, f"http://127.0.0.1:{content_port()}/files/big.bin"],
                             env)
        os.remove(curl_target)
        open_seconds = timed([cf, "open", big_path, "--read", "--quiet"], env)
        with open(os.path.join(cloud, "big.bin"), "rb") as source, open(big_path, "rb") as hydrated:
            if hashlib.sha256(source.read()).digest() != hashlib.sha256(hydrated.read()).digest():
                sys.exit("hydrated bytes differ from the cloud copy")
        curl_rate = BIG / curl_seconds / (1 << 20)
        open_rate = BIG / open_seconds / (1 << 20)
        print(f"cold open --read 256 MiB: {open_rate:.1f} MiB/s ({open_seconds * 1000:.0f} ms); "
              f"anchor curl to file: {curl_rate:.1f} MiB/s ({curl_seconds * 1000:.0f} ms); "
              f"ratio {open_rate / curl_rate:.2f}")
        print(f"peak RSS: content server {peak_rss_mib(client.pid):.1f} MiB, "
              f"Nimbrel server {peak_rss_mib(server.pid):.1f} MiB")

        local = small_paths[SMALL_COUNT]
        first_byte(local)
        cold, warm = [], []
        for path in small_paths[:SMALL_COUNT]:
            cold.append(first_byte(path) * 1000)
            warm.append(first_byte(local) * 1000)
        cold.sort()
        p99 = cold[int(len(cold) * 0.99) - 1]
        anchor = statistics.median(warm)
        print(f"open to first byte, cold 4 KiB, {SMALL_COUNT} files: median {statistics.median(cold):.2f} ms, "
              f"p99 {p99:.2f} ms; anchor (file local) median {anchor:.3f} ms")
    finally:
        for process in (server, client):
            process.kill()
            process.wait()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
