# Turns a Nimbrel server log into the demo's running summary: one line per projection batch,
# hydration start and end with size and rate, keep-on-device and free-up actions.
# Usage: tail -F SERVER.log | gawk -v root=MOUNT/ -f log-summary.awk
# Paths below ROOT are shown relative to it. (gawk hands on each line as it comes; mawk waits for a
# full buffer.)

# "[20261206,07:55:10.475][info][12971][file.cpp:98] Class::function message"
function clock(line) { return substr(line, 11, 12) }
function seconds(line,    t) {
    t = clock(line)
    return substr(t, 1, 2) * 3600 + substr(t, 4, 2) * 60 + substr(t, 7)
}
function thread(line,    parts) {
    split(line, parts, "]")
    return substr(parts[3], 2)
}
# The text after "KEY", up to the next separator the log puts after a path.
function after(line, key,    rest, end) {
    rest = substr(line, index(line, key) + length(key))
    end = index(rest, ", id =")
    if (end) rest = substr(rest, 1, end - 1)
    end = index(rest, "|")
    if (end) rest = substr(rest, 1, end - 1)
    end = index(rest, " hr:")
    if (end) rest = substr(rest, 1, end - 1)
    gsub(/\\/, "/", rest)
    if (root != "" && index(rest, root) == 1) rest = substr(rest, length(root) + 1)
    return rest
}
function human(bytes) {
    bytes += 0
    if (bytes < 1024) return sprintf("%d bytes", bytes)
    if (bytes < 1048576) return sprintf("%.1f KiB", bytes / 1024)
    return sprintf("%.1f MiB", bytes / 1048576)
}
function show(line, text) {
    printf "%s  %s\n", substr(clock(line), 1, 8), text
    fflush()
}

/recive file number :/ {
    count = substr($0, index($0, "recive file number :") + 20)
    show($0, "projection: batch of " count " placeholders")
    next
}
/call getDownloadMetadata, res =/ && match($0, /"size":[0-9]+/) {
    pendingSize[thread($0)] = substr($0, RSTART + 7, RLENGTH - 7)
    next
}
/downloadByUrl  begin, filePath =/ {
    path = after($0, "filePath =")
    started[path] = seconds($0)
    size[path] = pendingSize[thread($0)]
    show($0, "hydration start: " path (size[path] != "" ? " (" human(size[path]) ")" : ""))
    next
}
/downloadByUrl  end, downloadSuccess = / {
    path = after($0, "filePath =")
    ok = index($0, "downloadSuccess = true") > 0
    text = "hydration " (ok ? "done: " : "FAILED: ") path
    if (ok && size[path] != "" && (path in started)) {
        elapsed = seconds($0) - started[path]
        text = text " (" human(size[path]) " in " sprintf("%.2f", elapsed) " s"
        if (elapsed > 0) text = text ", " human(size[path] / elapsed) "/s"
        text = text ")"
    }
    show($0, text)
    next
}
/begin onIpcRunContextMenu menuCommand =/ {
    command = after($0, "menuCommand =")
    sub(/,.*/, "", command)
    show($0, "context menu: " command " (" after($0, "file count =") " selected)")
    next
}
/KeepOnDevice \| sourcePath =/ {
    text = "keep on device: " after($0, "destPath =")
    if (match($0, /size =[0-9]+/)) text = text " (" human(substr($0, RSTART + 6, RLENGTH - 6)) ")"
    show($0, text)
    next
}
/FreeUpSpace \| localPath =/ { show($0, "free up space: " after($0, "localPath =")); next }
/Mount mirror server leave ,mountPath:/ { show($0, "mounted: " after($0, "mountPath:")); next }
/UnMount mirror server done, mountPath:/ { show($0, "unmounted: " after($0, "mountPath:")); next }
