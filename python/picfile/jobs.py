"""Archive jobs: check or convert many PIC files, one task per file, on a
dask.distributed cluster (or one made in this process).

Each file is reported exactly once, as it finishes: the client keeps one
future per file and takes each result once. A worker that dies has its
files run again by the scheduler (Dask's own rescheduling, up to
`distributed.scheduler.allowed-failures` times), and a task that raises is
retried `retries` times; a file that still fails is reported as failed.
"""

import asyncio
import json
import os
import shutil
import sys
import time
import uuid

import picfile

# At most this many tasks wait on the scheduler at once: a million files
# need not be a million futures.
WINDOW = 4096


def check_file(path):
    """One file's line of `pictool check --json`, as a dict."""
    return picfile.check_facts(path)


def _write_output(target, write):
    """Writes `target` through `write(stream)` as every output of the project
    is written (picfile's C++ output): beside it, privately, moved over it
    when whole, with an earlier file's mode and other facts, or a new file's
    mode from the umask. A failed conversion leaves no partial file."""
    output = picfile._core.Output(os.fsencode(target))
    try:
        with os.fdopen(os.dup(output.fileno()), "wb") as stream:
            write(stream)
        output.commit()
    finally:
        output.close()


def convert_file(path, target, to, compression, allow_damaged=False):
    """Converts one PIC file to PNG, TIFF (through Pillow) or PIC. A damaged
    input gives what can be read of it, and its line says "ok": false with
    the damage as the error, unless `allow_damaged`."""
    result = {"file": path, "output": target, "ok": False}
    try:
        # Tasks run in threads: no catch_warnings, which is process-wide.
        with picfile.PicFile(path) as pic:
            comment, aspect = pic.comment, pic.aspect
        array, warning = picfile._imread_quietly(path)
        damage = None
        if warning is not None:
            damage = {"row": warning.row, "offset": warning.offset, "reason": warning.reason}
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        if to == "pic":
            picfile.imwrite(target, array, compression=compression, comment=comment, aspect=aspect)
        else:
            from PIL import Image

            image = Image.fromarray(array, "RGBA" if array.shape[2] == 4 else "RGB")
            _write_output(target, lambda stream: image.save(stream, format=to.upper()))
        result.update(
            ok=warning is None or allow_damaged,
            width=int(array.shape[1]),
            height=int(array.shape[0]),
            alpha=bool(array.shape[2] == 4),
            damage=damage,
        )
        if not result["ok"]:
            result["error"] = str(warning)
    except (OSError, ValueError, MemoryError) as error:
        result["error"] = str(error)
    return result


def failed(kind, item, error):
    """The line for a file whose task never gave a result."""
    path = item[0] if kind == "convert" else item
    if kind == "check":
        return {"file": path, "result": 2, "error": error}
    return {"file": path, "output": item[1], "ok": False, "error": error}


def run(client, kind, items, report, *, retries=2, function=None):
    """Runs one task per item on `client` and calls report(result) once per
    item, in the order they finish. `items` are paths (check) or argument
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


_SHORT_ESCAPES = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\f": "\\f", "\n": "\\n",
                  "\r": "\\r", "\t": "\\t"}


def _json_text(text):
    out = ['"']
    for character in text:
        code = ord(character)
        if character in _SHORT_ESCAPES:
            out.append(_SHORT_ESCAPES[character])
        elif 0xDC80 <= code <= 0xDCFF:  # a byte of a name that is not UTF-8
            out.append(f"\\u{code - 0xDC00:04X}")
        elif code < 0x20 or code == 0x7F:
            out.append(f"\\u{code:04X}")
        else:
            out.append(character)
    out.append('"')
    return "".join(out)


def _json(value):
    if isinstance(value, str):
        return _json_text(value)
    if isinstance(value, dict):
        return "{" + ",".join(_json_text(key) + ":" + _json(item) for key, item in value.items()) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ",".join(_json(item) for item in value) + "]"
    return json.dumps(value)


def json_line(result):
    """The result as pictool writes a JSON line: compact, UTF-8 as it is,
    control characters and each byte of a name that is not UTF-8 as \\u00XX."""
    return _json(result)


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
