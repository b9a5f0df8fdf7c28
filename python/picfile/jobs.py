"""Archive jobs: check or convert many PIC files, one task per file, on a
dask.distributed cluster (or one made in this process).

Each file is reported exactly once, as it finishes: the client keeps one
future per file and takes each result once. A worker that dies has its
files run again by the scheduler (Dask's own rescheduling, up to
`distributed.scheduler.allowed-failures` times), and a task that raises is
retried `retries` times; a file that still fails is reported as failed.
"""

import asyncio
import os
import shutil
import sys
import time
import uuid

import picfile

# At most this many tasks wait on the scheduler at once: a million files
# need not be a million futures.
WINDOW = 4096


def check_file(path, salvage=False):
    """(line, whole): one file's line of `pictool check --json` (with
    `salvage`, `--salvage`), and whether the file is whole."""
    return picfile._check_line(path, salvage=salvage)


def convert_file(path, target, to, compression=None, allow_damaged=False, salvage=False):
    """(line, ok): converts one PIC file to the format of the word `to`
    (an extension of any format pictool writes) as `pictool convert --json
    path target` does, and its line. A damaged input gives what can be read
    of it (with `salvage`, also the rows found after the damage, as
    --salvage), and fails unless `allow_damaged`; `compression` ("rle",
    "raw" or None for the input's) applies to PIC outputs."""
    try:
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
    except OSError:
        pass  # the conversion says why its output cannot be made
    return picfile._core.convert_line(os.fsencode(path), os.fsencode(target), to,
                                      compression or "", allow_damaged, salvage)


def failed(kind, item, error):
    """(line, False) for a file whose task never gave a result."""
    path, output = (item[0], item[1]) if kind == "convert" else (item, "")
    return picfile._core.failed_line(kind, os.fsencode(path), os.fsencode(output), error), False


def run(client, kind, items, report, *, retries=2, function=None):
    """Runs one task per item on `client` and calls report(result) once per
    item, in the order they finish; a result is (JSON line, ok). `items` are paths (check) or argument
    tuples (convert); `function` replaces check_file or convert_file."""
    from distributed import as_completed

    function = function or (check_file if kind == "check" else convert_file)
    pending = iter(enumerate(items))
    owners = {}
    run_id = uuid.uuid4().hex[:12]  # keys of an earlier run on the scheduler are not ours

    def submit_next():
        for index, item in pending:
            arguments = item if isinstance(item, tuple) else (item,)
            future = client.submit(
                function, *arguments, key=f"picfile-{kind}-{run_id}-{index}", pure=False, retries=retries
            )
            owners[future.key] = item
            return future
        return None

    first = [future for future in (submit_next() for _ in range(WINDOW)) if future is not None]
    finished = as_completed(first)
    for future in finished:
        item = owners.pop(future.key)
        try:
            result = future.result()
        except (Exception, asyncio.CancelledError) as error:  # noqa: B902 - reported per file
            result = failed(kind, item, f"{type(error).__name__}: {error}")
        future.release()
        report(result)
        following = submit_next()
        if following is not None:
            finished.add(following)


class Progress:
    """One line on stderr, redrawn in place at most ten times a second, only
    on a terminal."""

    def __init__(self, verb, total, stream=None, enabled=None):
        self.stream = stream or sys.stderr
        self.enabled = self.stream.isatty() if enabled is None else enabled
        self.verb, self.total, self.done, self.bad = verb, total, 0, 0
        self.drawn_at, self.drawn_width = 0.0, 0

    def step(self, bad):
        self.done += 1
        self.bad += 1 if bad else 0
        now = time.monotonic()
        if not self.enabled or (now - self.drawn_at < 0.1 and self.done < self.total):
            return
        self.drawn_at = now
        width = shutil.get_terminal_size((80, 24)).columns
        share = self.done / self.total if self.total else 1.0
        text = f"{self.verb}: {self.done} of {self.total} files, {self.bad} not ok "
        bar_width = max(0, min(30, width - len(text) - 8))
        filled = int(bar_width * share)
        line = f"{text}[{'#' * filled}{'.' * (bar_width - filled)}] {share:4.0%}"
        line = line[: max(0, width - 1)]
        self.stream.write("\r" + line.ljust(self.drawn_width))
        self.drawn_width = len(line)
        self.stream.flush()

    def end(self):
        if self.enabled and self.done:
            self.stream.write("\n")
            self.stream.flush()
