import functools
import io
import json
import os
import subprocess
import sys

import numpy
import pytest
from cluster_tasks import check_or_die_once
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


def test_converts_to_png_tiff_and_pic(tmp_path):
    from PIL import Image

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
        results = {os.path.basename(r["file"]): r for r in lines(out.getvalue())}
        assert results["shot.pic"]["ok"] and results["shot.pic"]["damage"] is None
        assert results["cut.pic"]["damage"]["reason"] == "cut short"
        written = tmp_path / to / f"shot.{to}"
        if to == "pic":
            numpy.testing.assert_array_equal(picfile.imread(written), array)
            with picfile.PicFile(written) as pic:
                assert (pic.comment, pic.aspect) == (b"keep me", 0.5)
        else:
            with Image.open(written) as image:
                numpy.testing.assert_array_equal(numpy.asarray(image), array)
        assert sorted(os.listdir(tmp_path / to)) == [f"cut.{to}", f"shot.{to}"]
    status = main(["convert", str(source / "shot.pic"), "--to", "png", "-o", str(tmp_path / "x"),
                   "-q", "--allow-damaged"], stdout=io.StringIO())
    assert status == 0


def test_usage_errors_exit_2(tmp_path):
    for arguments in (["check"], ["convert", "a.pic", "-o", "x"], ["check", "a", "--local", "0"],
                      ["frobnicate", "a"]):
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
