import functools
import io
import json
import os
import subprocess
import sys

import numpy
import pytest
from cluster_tasks import check_and_list_servers, check_or_die_once, fail
from conftest import LAYOUTS, layout_file

import picfile
from picfile.__main__ import main


def archive(folder, count):
    """`count` files: most whole in every layout, every seventh cut short,
    every eleventh no PIC file. Answers {path: expected check line}."""
    expected = {}
    layouts = list(LAYOUTS.values())
    for index in range(count):
        data, starts = layout_file(24 + index % 9, 6, layouts[index % len(layouts)])
        if index % 7 == 3:
            data = data[: starts[3] + 1]
        if index % 11 == 5:
            data = b"junk" * index
        path = os.path.join(folder, f"sub{index % 3}", f"frame{index:04d}.pic")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)
        expected[path] = picfile.check_facts(path)
    return expected


def lines(text):
    return [json.loads(line) for line in text.splitlines()]


def test_checks_in_process_and_says_so_in_its_exit_status(tmp_path):
    expected = archive(str(tmp_path), 20)
    out = io.StringIO()
    assert main(["check", "-r", str(tmp_path), "-q"], stdout=out) == 1
    reported = lines(out.getvalue())
    assert sorted(reported, key=lambda r: r["file"]) == [expected[p] for p in sorted(expected)]
    whole = [path for path, line in expected.items() if line["result"] == 0 and not line["damage"]]
    assert main(["check", *whole, "-q"], stdout=io.StringIO()) == 0


def test_converts_to_every_format_with_damage_failing_unless_allowed(tmp_path):
    source = tmp_path / "in"
    source.mkdir()
    array = numpy.arange(5 * 7 * 4, dtype=numpy.uint8).reshape(5, 7, 4)
    picfile.imwrite(source / "shot.pic", array, comment="keep me", aspect=0.5)
    (source / "cut.pic").write_bytes(picfile.imencode(array, compression="raw")[:-10])
    for to in ("png", "tiff", "pic"):
        out = io.StringIO()
        status = main(["convert", "-r", str(source), "--to", to, "-o", str(tmp_path / to), "-q"],
                      stdout=out)
        assert status == 1  # the cut file is damaged
        results = {os.path.basename(r["inputs"][0]): r for r in lines(out.getvalue())}
        assert results["shot.pic"]["ok"] and results["shot.pic"]["damage"] is None
        cut = results["cut.pic"]
        assert cut["damage"]["reason"] == "cut short" and not cut["ok"]
        assert cut["error"] == f"{source / 'cut.pic'}: damaged: cut short in row 4 of 5 (offset 224)"
        written = tmp_path / to / f"shot.{to}"
        if to == "pic":
            numpy.testing.assert_array_equal(picfile.imread(written), array)
            with picfile.PicFile(written) as pic:
                assert (pic.comment.endswith(b"keep me"), pic.aspect) == (True, 0.5)
        assert sorted(os.listdir(tmp_path / to)) == [f"cut.{to}", f"shot.{to}"]
    out = io.StringIO()
    status = main(["convert", str(source / "cut.pic"), "--to", "png", "-o", str(tmp_path / "x"),
                   "-q", "--allow-damaged"], stdout=out)
    (line,) = lines(out.getvalue())
    assert status == 0 and line["ok"] and line["damage"] and "error" not in line
    for command in (["check"], ["convert", "--to", "png", "-o", str(tmp_path / "x")]):
        out = io.StringIO()
        main([*command, str(source / "cut.pic"), "-q"], function=fail, stdout=out)
        (line,) = lines(out.getvalue())  # a task that never gives a line is a failure of the system
        assert (line.get("result", line.get("status")), line.get("ok", False)) == (2, False)
        assert line["error"].endswith("RuntimeError: lost")


def test_usage_errors_exit_2(tmp_path):
    for arguments in (["check"], ["convert", "a.pic", "-o", "x"], ["check", "a", "--local", "0"],
                      ["frobnicate", "a"], ["convert", "a.pic", "-o", "x", "--to", "gif"]):
        with pytest.raises(SystemExit) as stop:
            main(arguments, stdout=io.StringIO())
        assert stop.value.code == 2


def test_a_killed_worker_loses_no_file_and_repeats_none(tmp_path):
    from distributed import LocalCluster

    expected = archive(str(tmp_path / "archive"), 200)
    victim = sorted(expected)[100]
    marker = str(tmp_path / "killed")
    task = functools.partial(check_or_die_once, marker, victim)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster:
        out = io.StringIO()
        status = main(["check", "-r", str(tmp_path / "archive"), "--scheduler",
                       cluster.scheduler_address, "-q"], function=task, stdout=out)
    assert os.path.exists(marker), "no worker was killed"
    reported = lines(out.getvalue())
    assert len(reported) == 200
    assert {line["file"] for line in reported} == set(expected)
    assert sorted(reported, key=lambda r: r["file"]) == [expected[p] for p in sorted(expected)]
    assert status == 1


def test_the_command_runs_on_local_worker_processes(tmp_path):
    expected = archive(str(tmp_path), 6)
    done = subprocess.run(
        [sys.executable, "-m", "picfile", "check", *sorted(expected), "--local", "2"],
        capture_output=True, text=True, check=False, env=os.environ, timeout=120,
    )
    assert done.returncode == 1, done.stderr
    assert sorted(lines(done.stdout), key=lambda r: r["file"]) == [
        expected[p] for p in sorted(expected)
    ]
    assert "\r" not in done.stderr  # no progress line off a terminal


def test_local_runs_listen_on_loopback_alone_and_show_no_dashboard(tmp_path):
    expected = archive(str(tmp_path), 1)
    task = functools.partial(check_and_list_servers, os.getpid())
    for where in ([], ["--local", "1"]):
        out = io.StringIO()
        main(["check", *expected, "-q", *where], function=task, stdout=out)
        (line,) = lines(out.getvalue())
        assert line["listening"], where
        for address in line["listening"]:
            host, port = address.rsplit(":", 1)
            assert host in ("127.0.0.1", "::1") and port != "8787", (where, line["listening"])


def _mode(path):
    return os.stat(path).st_mode & 0o777


def _note(path):
    try:
        return os.getxattr(path, "user.note")
    except OSError:
        return None


def test_outputs_take_modes_from_the_umask_and_keep_an_earlier_files_facts(tmp_path):
    """Every writer of picfile's: the archive's PNG, TIFF and PIC, imwrite and
    the Pillow plug-in. A new output is 0666 less the umask (never 0600 for
    it alone); an earlier file keeps its mode and attributes."""
    from PIL import Image

    import picfile.pillow  # noqa: F401 - registers PIC with Pillow

    array = numpy.arange(3 * 4 * 3, dtype=numpy.uint8).reshape(3, 4, 3)
    source = tmp_path / "shot.pic"
    picfile.imwrite(source, array)

    def archive_convert(to):
        def write(path):
            main(["convert", str(source), "--to", to, "-o", os.path.dirname(path), "-q"],
                 stdout=io.StringIO())
        return write

    writers = {
        "shot.png": archive_convert("png"),
        "shot.tiff": archive_convert("tiff"),
        "shot.pic": archive_convert("pic"),
        "imwrite.pic": lambda path: picfile.imwrite(path, array),
        "pillow.pic": lambda path: Image.fromarray(array).save(path),
    }
    before = os.umask(0o027)
    try:
        for name, write in writers.items():
            folder = tmp_path / ("out-" + name)
            folder.mkdir()
            path = str(folder / name)
            write(path)
            assert _mode(path) == 0o640, name
            os.chmod(path, 0o600)
            try:
                os.setxattr(path, "user.note", b"kept")
            except OSError:
                pass  # a file system without user attributes
            note = _note(path)
            write(path)
            assert (_mode(path), _note(path)) == (0o600, note), name
            assert sorted(os.listdir(folder)) == [name], name
    finally:
        os.umask(before)
