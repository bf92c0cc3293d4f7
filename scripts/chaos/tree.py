#!/usr/bin/env python3
"""The kill-anywhere campaign's view of the tree: what the user owns, what the cloud holds and
what the mount shows, and every invariant that must hold after a server was killed and started
again. Used by scripts/chaos.sh; each command prints one line per violation, "INVARIANT<TAB>detail".

  tree.py manifest FILE PATH...        records the content hash of the user's own files
  tree.py forget FILE PATH...          forgets files the user no longer has
  tree.py records CLOUD MOUNT PATH...  a pushFileSystem body for the cloud's PATHs and all below them
  tree.py busy APP CHECK MOUNT PATH... exit 0 while one PATH is not yet in the state CHECK names
                                       (freed, hydrated, placeholder)
  tree.py check APP HOME CLOUD MOUNT MANIFEST
                                       hydrated files, the user's files, the stores, repair
                                       leftovers and the projection
  tree.py next APP CLOUD MOUNT KEEP... reads every cloud file through the mount, keeps KEEP on
                                       the device, then frees every file
"""
import hashlib
import json
import os
import sqlite3
import subprocess
import sys
import time

MODE = "0"
MODE_PROVIDER = "ZedoziZevoro"
TEMP_SUFFIX = ".hardlink_repair.tmp"
SYNC_ROOTS_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SyncRootManager"
# A menu request names at most this many paths, as an Explorer selection would.
MENU_BATCH = 40
SETTLE_SECONDS = 60


def digest(path):
    sha = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            sha.update(block)
    return sha.hexdigest()


def first_difference(path, expected_path):
    with open(path, "rb") as actual, open(expected_path, "rb") as expected:
        offset = 0
        while True:
            got, want = actual.read(1 << 16), expected.read(1 << 16)
            if got != want:
                at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
                return offset + at, not any(got[at:])
            if not got:
                return None, False
            offset += len(got)


def covered_copy(mount, path):
    """The same file in the folder below the filter mount, as the filter service holds it."""
    for lock in os.listdir(os.environ.get("NIMBREL_RUNTIME_DIR", "/nonexistent")):
        if not (lock.startswith("cfd-") and lock.endswith(".lock")):
            continue
        with open(os.path.join(os.environ["NIMBREL_RUNTIME_DIR"], lock)) as source:
            pid = source.read().strip()
        for fd in os.listdir(f"/proc/{pid}/fd"):
            link = f"/proc/{pid}/fd/{fd}"
            if os.readlink(link) == mount and os.path.isdir(link):
                return os.path.join(link, os.path.relpath(path, mount))
    return None


def difference(mount, path, expected_path):
    """Where PATH first differs from the cloud's copy, through the mount and on the disk below it."""
    shown, zeros = first_difference(path, expected_path)
    text = f"first difference through the mount at byte {shown}{' (zeros from there)' if zeros else ''}"
    try:
        below = covered_copy(mount, path)
        if below:
            disk, zeros = first_difference(below, expected_path)
            text += f"; on the disk below it: {'the same as the cloud' if disk is None else f'at byte {disk}'}"
    except OSError as error:
        text += f"; the disk below it not readable: {error}"
    return text


def violation(invariant, detail):
    print(f"{invariant}\t{detail}", flush=True)


def cloud_items(cloud):
    """Relative path -> is-folder for every item of the cloud, as the client pushes them."""
    items = {}
    for folder, dirs, files in os.walk(cloud):
        for name in dirs + files:
            full = os.path.join(folder, name)
            if not os.path.islink(full):
                items[os.path.relpath(full, cloud)] = os.path.isdir(full)
    return items


def info(app, paths):
    """nimbrel-cf info of many paths at once, keyed by path; None when the tool failed."""
    found = {}
    for start in range(0, len(paths), 200):
        chunk = paths[start:start + 200]
        run = subprocess.run([f"{app}/nimbrel-cf", "info", *chunk], capture_output=True, text=True)
        try:
            for entry in json.loads(run.stdout):
                found[entry["path"]] = entry
        except ValueError:
            return None
    return found


def manifest(out, forget, paths):
    """Adds the user's files PATHS with their content now, or forgets them once they left."""
    recorded = {}
    if os.path.exists(out):
        with open(out) as source:
            recorded = json.load(source)
    for path in paths:
        if forget:
            recorded.pop(path, None)
        else:
            recorded[path] = digest(path)
    with open(out, "w") as target:
        json.dump(recorded, target)


def records(cloud, mount, paths):
    items = []
    below = []
    for path in paths:
        below.append(path)
        if os.path.isdir(os.path.join(cloud, path)):
            below += [os.path.join(path, relative) for relative in cloud_items(os.path.join(cloud, path))]
    for path in sorted(below):
        full = os.path.join(cloud, path)
        stat = os.stat(full)
        items.append({
            "id": hashlib.sha1(path.encode()).hexdigest()[:24],
            "filePath": os.path.join(mount, os.path.dirname(path)).rstrip("/"),
            "fileName": os.path.basename(path),
            "type": 2 if os.path.isdir(full) else 1,
            "isVirtual": 1,
            "size": 0 if os.path.isdir(full) else stat.st_size,
            "lCreateTime": int(stat.st_mtime), "lUpdateTime": int(stat.st_mtime), "lAccessTime": int(stat.st_atime),
        })
    print(json.dumps({"fileInfo": items}))


def busy(app, check, mount, paths):
    """Whether the work of a phase was still going on: some path is not yet what it will be."""
    if check == "freed":
        return 0 if any(os.stat(os.path.join(mount, path)).st_blocks != 0 for path in paths) else 1
    states = info(app, [os.path.join(mount, path) for path in paths]) or {}
    return 0 if not states or any(not state.get(check) for state in states.values()) else 1


def check_stores(app, home, mount):
    for name in ("cloudfiles.db", "registry.db"):
        try:
            with sqlite3.connect(f"file:{os.path.join(home, name)}?mode=ro", uri=True) as db:
                result = db.execute("PRAGMA quick_check").fetchone()[0]
            if result != "ok":
                violation("stores", f"{name}: {result}")
        except sqlite3.Error as error:
            violation("stores", f"{name}: {error}")
    roots = subprocess.run([f"{app}/nimbrel-cf", "roots"], capture_output=True, text=True)
    try:
        if roots.returncode != 0 or mount not in [root["path"] for root in json.loads(roots.stdout)]:
            violation("stores", f"nimbrel-cf roots does not list {mount}: {roots.stdout}{roots.stderr}")
    except ValueError:
        violation("stores", f"nimbrel-cf roots: {roots.stdout}{roots.stderr}")
    registry = subprocess.run([f"{app}/nimbrel-reg", "query", SYNC_ROOTS_KEY, "/s"], capture_output=True, text=True)
    if registry.returncode != 0 or MODE_PROVIDER.upper() not in registry.stdout.upper():
        violation("stores", f"nimbrel-reg query {SYNC_ROOTS_KEY}: {registry.returncode} {registry.stderr.strip()}")


def check(app, home, cloud, mount, manifest_path):
    items = cloud_items(cloud)
    paths = [os.path.join(mount, relative) for relative in sorted(items)]
    temps = []
    for folder, _, files in os.walk(mount):
        temps += [os.path.join(folder, name) for name in files if name.endswith(TEMP_SUFFIX)]
    states = info(app, paths + temps)
    if states is None:
        violation("stores", "nimbrel-cf info did not answer")
        return
    for relative, is_folder in sorted(items.items()):
        path = os.path.join(mount, relative)
        state = states.get(path, {})
        if not state.get("exists"):
            violation("projection", f"{relative} is missing")
        elif state.get("directory") != is_folder or not state.get("placeholder"):
            violation("projection", f"{relative} is not the cloud's placeholder: {json.dumps(state)}")
        elif not is_folder and state.get("size") != os.path.getsize(os.path.join(cloud, relative)):
            violation("projection", f"{relative} has size {state.get('size')}")
        elif not is_folder and state.get("hydrated") and digest(path) != digest(os.path.join(cloud, relative)):
            violation("hydrated-bytes", f"{relative} claims to be hydrated and differs from the cloud: "
                      f"{difference(mount, path, os.path.join(cloud, relative))}")
    for temp in temps:
        if states.get(temp, {}).get("placeholder"):
            violation("repair-temp", f"{temp} was projected as a placeholder")
    with open(manifest_path) as source:
        owned = json.load(source)
    for path, sha in sorted(owned.items()):
        if not os.path.exists(path):
            violation("user-files", f"{path} is lost")
        elif digest(path) != sha:
            violation("user-files", f"{path} changed")
    check_stores(app, home, mount)


def menu(app, command, paths):
    for start in range(0, len(paths), MENU_BATCH):
        run = subprocess.run([f"{app}/nimbrel-menu", "--mode", MODE, "run", command, *paths[start:start + MENU_BATCH]],
                             capture_output=True, text=True)
        if run.returncode != 0:
            violation("next-operation", f"{command}: {run.stdout.strip()} {run.stderr.strip()}")
            return False
    return True


def settle(paths, done):
    """Waits until done(path) holds for every path; returns the paths for which it never did."""
    end = time.monotonic() + SETTLE_SECONDS
    left = list(paths)
    while left and time.monotonic() < end:
        left = [path for path in left if not done(path)]
        if left:
            time.sleep(0.1)
    return left


def next_operation(app, cloud, mount, keep):
    files = sorted(relative for relative, is_folder in cloud_items(cloud).items() if not is_folder)
    kept = [os.path.join(mount, relative) for relative in keep]
    if kept and menu(app, "AlwaysKeepDevice", kept):
        for path in settle(kept, lambda path: os.stat(path).st_blocks > 0 or os.stat(path).st_size == 0):
            violation("next-operation", f"AlwaysKeepDevice did not bring {path} to the device")
    for relative in files:
        try:
            if digest(os.path.join(mount, relative)) != digest(os.path.join(cloud, relative)):
                path = os.path.join(mount, relative)
                violation("next-operation", f"reading {relative} gave other bytes than the cloud's: "
                          f"{difference(mount, path, os.path.join(cloud, relative))}; "
                          f"nimbrel-cf info: {json.dumps((info(app, [path]) or {}).get(path))}")
        except OSError as error:
            violation("next-operation", f"reading {relative}: {error}")
    paths = [os.path.join(mount, relative) for relative in files]
    if menu(app, "FreeUpSpace", paths):
        for path in settle(paths, lambda path: os.stat(path).st_blocks == 0):
            violation("next-operation", f"FreeUpSpace left {os.stat(path).st_blocks} blocks in {path}")


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command in ("manifest", "forget"):
        manifest(args[0], command == "forget", args[1:])
    elif command == "records":
        records(args[0], args[1], args[2:])
    elif command == "busy":
        sys.exit(busy(args[0], args[1], args[2], args[3:]))
    elif command == "check":
        check(*args)
    elif command == "next":
        next_operation(args[0], args[1], args[2], args[3:])
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
