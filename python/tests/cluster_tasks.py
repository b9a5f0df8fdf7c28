"""Task functions for the cluster tests, importable by worker processes."""

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
