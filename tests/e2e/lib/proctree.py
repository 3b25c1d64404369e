"""Processes as /proc shows them: whether one runs, what runs below it or in its process group,
and fields of its status (peak memory). Linux, or FreeBSD with procfs mounted."""

import os


def _stat_fields(pid):
    """(state, ppid, pgid) of a process, or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            data = f.read().decode("latin-1")
    except OSError:
        return None
    # The command name is in parentheses and may itself hold spaces or parentheses.
    rest = data[data.rfind(")") + 2:].split()
    return rest[0], int(rest[1]), int(rest[2])


def _all_pids():
    return [int(name) for name in os.listdir("/proc") if name.isdigit()]


def is_running(pid):
    """True while pid exists and is not a zombie."""
    fields = _stat_fields(pid)
    return fields is not None and fields[0] not in ("Z", "X")


def descendants(pid):
    """Every living process below pid, found by walking parent links in /proc."""
    children = {}
    for p in _all_pids():
        fields = _stat_fields(p)
        if fields is not None:
            children.setdefault(fields[1], []).append(p)
    found, todo = set(), [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            if child not in found:
                found.add(child)
                todo.append(child)
    return {p for p in found if is_running(p)}


def group_members(pgid):
    """Every living process in the process group pgid."""
    members = set()
    for p in _all_pids():
        fields = _stat_fields(p)
        if fields is not None and fields[2] == pgid and fields[0] not in ("Z", "X"):
            members.add(p)
    return members


def is_renderer(pid):
    """True when pid is one of the engine's render processes. They keep the zygote's command
    line, so a renderer is told by its compositor thread."""
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                if f.read().strip() == "Compositor":
                    return True
    except OSError:
        pass
    return False


def status_field(pid, name):
    """A field of /proc/<pid>/status as text (e.g. "VmHWM" -> "123456 kB"), or None."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key == name:
                    return value.strip()
    except OSError:
        return None
    return None


def peak_rss_kib(pid):
    """The process's peak resident set size (VmHWM) in KiB, or None when it is gone."""
    value = status_field(pid, "VmHWM")
    return int(value.split()[0]) if value else None
