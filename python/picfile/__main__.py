"""python3 -m picfile check|convert: PIC archives on a Dask cluster.

Run `python3 -m picfile --help` or `python3 -m picfile COMMAND --help`.
"""

import argparse
import functools
import os
import sys

EXIT_OK, EXIT_FAILED, EXIT_USAGE = 0, 1, 2

CLUSTER_HELP = """
where the tasks run (one per file):
  (neither)            in this process, one thread per core
  --local N            a local cluster of N worker processes on 127.0.0.1
  Neither opens a dashboard, and Dask's own servers listen on 127.0.0.1 only.
  --scheduler ADDRESS  an existing dask.distributed scheduler, e.g.
                       tcp://10.0.0.5:8786; its workers must see the files
                       under the same names and have picfile installed

Output: one JSON object per file, one per line, as each file finishes (not
in the order given); a progress line on stderr when it is a terminal, unless
--quiet. A worker that dies has its files run again; every file is reported
exactly once. Exit status: 0 every file ok, 1 some file failed or is
damaged, 2 usage error.
"""

CHECK_DESCRIPTION = """\
Reads each PIC file's header, packets and rows and says whether every row is
there and decodes, as `pictool check --json` does: file, result (0; 13 for a
bad header or no pixels, 2 when the file cannot be opened: then only file, result and
error), width, height, packets, bits, rowsComplete, damage (null or {"row",
"offset", "reason"}: "cut short", "run past row end", "zero count") and
trailingBytes; with --salvage, also salvage (null, or {"lostRows": [[first,
last], ...], "recoveredRows": N}).
"""

CONVERT_DESCRIPTION = """\
Converts PIC files, as `pictool convert --json IN OUT` converts each, into
--output-dir: a file named on the command line keeps its name, a file found
under a folder keeps its path below that folder; the extension becomes the
--to word. --to takes an extension of any format pictool writes:
  {words}
The picture, its alpha, comment and aspect ratio go where pictool puts
them, the same bytes. Each input is read once. A damaged file gives what
can be read of it (with --salvage, also the rows found again after the
damage; lost rows are transparent black); it fails ("ok": false, with the
damage as "error") unless --allow-damaged.
Each output is written as pictool writes its outputs: privately under a
temporary name and moved into place when whole, with an earlier file's mode,
owner and attributes, or a new file's mode from the umask. Per file, the
line `pictool convert --json` writes: status, ok, error, width, height,
alpha, compressed, inputs, outputs, failures, damage, aspect, comment,
carried, ...
"""


def _words():
    from picfile import _core

    return _core.output_words()


def _convert_description():
    return CONVERT_DESCRIPTION.format(words=_words())


def _output_word(word):
    """--to's word, lower case, where pictool writes that format."""
    from picfile import _core

    try:
        _core.output_format(word)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None
    return word.lower()


def _parser():
    parser = argparse.ArgumentParser(
        prog="python3 -m picfile",
        description="Check or convert Softimage PIC files, one task per file on a Dask cluster.",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    for name, summary, description in (
        ("check", "whether PIC files are whole, as pictool check --json", CHECK_DESCRIPTION),
        ("convert", "PIC files to any format pictool writes", _convert_description()),
    ):
        command = commands.add_parser(
            name,
            help=summary,
            description=description,
            epilog=CLUSTER_HELP,
            formatter_class=argparse.RawDescriptionHelpFormatter,
        )
        command.add_argument("paths", nargs="+", metavar="PATH", help="PIC files, or folders with --recursive")
        command.add_argument(
            "--recursive", "-r", action="store_true", help="take the .pic files below folders (names ending .pic, any case)"
        )
        where = command.add_mutually_exclusive_group()
        where.add_argument("--scheduler", metavar="ADDRESS", help="a dask scheduler's address")
        where.add_argument("--local", type=int, metavar="N", help="N local worker processes")
        command.add_argument("--quiet", "-q", action="store_true", help="no progress line")
        command.add_argument(
            "--salvage", action="store_true",
            help="after a run-length row that does not decode, look for the rows after it, "
                 "as pictool's --salvage; a salvaged file is still damaged",
        )
        if name == "convert":
            command.add_argument(
                "--to", type=_output_word, required=True, metavar="FORMAT",
                help="the output format, by extension: " + _words()
            )
            command.add_argument(
                "--output-dir", "-o", required=True, metavar="DIR", help="where outputs go"
            )
            command.add_argument(
                "--compression",
                choices=("rle", "raw"),
                help="rows of PIC output (default: the input's, as pictool)",
            )
            command.add_argument(
                "--allow-damaged", action="store_true", help="a damaged input is no failure"
            )
    return parser


def _is_pic_name(name):
    return name.lower().endswith(".pic")


def gather(paths, recursive):
    """(path, base folder or None) per file: files as given, and with
    `recursive` the .pic files below folders, sorted. A folder without
    `recursive` is given as it is, and its check reports it."""
    found = []
    for path in paths:
        if recursive and os.path.isdir(path):
            below = []
            for folder, folders, names in os.walk(path):
                folders.sort()
                below += [os.path.join(folder, name) for name in names if _is_pic_name(name)]
            found += [(name, path) for name in sorted(below)]
        else:
            found.append((path, None))
    return found


def _output_name(path, base, output_dir, to):
    relative = os.path.relpath(path, base) if base is not None else os.path.basename(path)
    stem, _ = os.path.splitext(relative)
    return os.path.join(output_dir, stem + "." + to)


# A run of our own makes no dashboard, and Dask's servers (the scheduler's
# and each worker's, with their status pages) listen on loopback alone:
# without an address Dask listens on every one, port 8787 among them.
LOOPBACK_ONLY = dict(
    dashboard_address=None,
    scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
    worker_dashboard_address="127.0.0.1:0",
)


def _client(arguments):
    from distributed import Client, LocalCluster

    if arguments.scheduler:
        return Client(arguments.scheduler), None
    if arguments.local is not None:
        cluster = LocalCluster(
            n_workers=arguments.local,
            threads_per_worker=1,
            processes=True,
            host="127.0.0.1",
            **LOOPBACK_ONLY,
        )
    else:
        cluster = LocalCluster(
            n_workers=1,
            threads_per_worker=os.cpu_count() or 1,
            processes=False,
            **LOOPBACK_ONLY,
        )
    return Client(cluster), cluster


def main(argv=None, *, function=None, stdout=None):
    from picfile import jobs

    stdout = stdout or sys.stdout
    parser = _parser()
    arguments = parser.parse_args(argv)
    if arguments.local is not None and arguments.local < 1:
        parser.error("--local needs at least 1 worker")
    files = gather(arguments.paths, arguments.recursive)
    if arguments.command == "check":
        items = [path for path, _ in files]
        if arguments.salvage and function is None:
            function = functools.partial(jobs.check_file, salvage=True)
    else:
        items = [
            (path, _output_name(path, base, arguments.output_dir, arguments.to), arguments.to,
             arguments.compression, arguments.allow_damaged, arguments.salvage)
            for path, base in files
        ]
        outputs = [item[1] for item in items]
        if len(set(outputs)) != len(outputs):
            parser.error("two inputs would be converted to the same output name")
    if not items:
        print(f"{parser.prog}: no .pic files found", file=sys.stderr)
        return EXIT_FAILED

    progress = jobs.Progress(arguments.command, len(items), enabled=False if arguments.quiet else None)
    failures = 0

    def report(result):
        nonlocal failures
        line, ok = result
        bad = not ok
        failures += 1 if bad else 0
        stdout.write(line + "\n")
        stdout.flush()
        progress.step(bad)

    import logging

    # The cluster's own chatter (a worker restarted, ...) is no output of ours.
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    client, cluster = _client(arguments)
    try:
        jobs.run(client, arguments.command, items, report, function=function)
    except KeyboardInterrupt:
        print(f"{parser.prog}: interrupted", file=sys.stderr)
        return 130
    finally:
        progress.end()
        client.close()
        if cluster is not None:
            cluster.close()
    return EXIT_FAILED if failures else EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
