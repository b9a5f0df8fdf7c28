"""Task functions for the cluster tests, importable by worker processes."""

import json
import os
import signal

from picfile import jobs


def check_or_die_once(marker, victim, path):
    """Checks `path`; the first time it is `victim`, kills its own worker
    process instead, as a crash or an out-of-memory kill would."""
    if path == victim and not os.path.exists(marker):
        with open(marker, "w", encoding="ascii") as note:
            note.write(str(os.getpid()))
        os.kill(os.getpid(), signal.SIGKILL)
    return jobs.check_file(path)


def check_and_list_servers(root, path):
    """Checks `path` and adds the addresses that the process `root` and its
    children listen on meanwhile, as "host:port"."""
    import psutil

    top = psutil.Process(root)
    listening = sorted({f"{connection.laddr.ip}:{connection.laddr.port}"
                        for process in [top] + top.children(recursive=True)
                        for connection in process.connections(kind="inet")
                        if connection.status == psutil.CONN_LISTEN})
    line, whole = jobs.check_file(path)
    return line[:-1] + ',"listening":' + json.dumps(listening) + "}", whole


def fail(*arguments):
    """A task that never gives a result."""
    raise RuntimeError("lost")
