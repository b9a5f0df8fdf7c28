import io
import json
import os
import subprocess
import sys
import threading
import warnings

import numpy
import pytest
from conftest import LAYOUTS, header_bytes, layout_file, read_pam, run_pictool

import picfile
import picfile.jobs


def picture(height, width, channels, seed=1):
    """Runs and noise, as rendered frames have them."""
    rng = numpy.random.default_rng(seed)
    values = rng.integers(0, 256, size=(height, width, channels), dtype=numpy.uint8)
    values[:, : width // 2] = values[:, :1]  # long runs in the left half
    return values


def read_quietly(source, **options):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        array = picfile.imread(source, **options)
    return array, caught


@pytest.mark.parametrize("shape", [(1, 1, 3), (7, 300, 4), (3, 129, 3), (0, 0, 4), (0, 5, 3)])
@pytest.mark.parametrize("compression", ["rle", "raw"])
def test_round_trips_exactly(tmp_path, shape, compression):
    array = picture(*shape)
    path = tmp_path / "image.pic"
    picfile.imwrite(path, array, compression=compression, comment="take 2", aspect=0.5)
    back = picfile.imread(path)
    assert back.dtype == numpy.uint8 and back.flags.c_contiguous and back.shape == shape
    numpy.testing.assert_array_equal(back, array)
    assert path.read_bytes() == picfile.imencode(
        array, compression=compression, comment="take 2", aspect=0.5
    )
    with picfile.PicFile(str(path)) as pic:
        assert (pic.width, pic.height, pic.alpha, pic.aspect) == (shape[1], shape[0], shape[2] == 4, 0.5)
        assert pic.comment == b"take 2"
        assert [p["type"] for p in pic.packets] == [2 if compression == "rle" else 0] * (
            shape[2] - 2
        )


def test_reads_paths_bytes_and_files_alike(tmp_path):
    array = picture(5, 9, 3)
    data = picfile.imencode(array)
    (tmp_path / "a.pic").write_bytes(data)
    for source in (str(tmp_path / "a.pic"), tmp_path / "a.pic", data, bytearray(data),
                   memoryview(data), io.BytesIO(data)):
        numpy.testing.assert_array_equal(picfile.imread(source), array)


def test_names_that_are_not_utf8(tmp_path, pictool):
    name = os.fsdecode(os.path.join(os.fsencode(str(tmp_path)), b"shot\xff\x7f\t\"\xc3\xa9.pic"))
    array = picture(2, 2, 3)
    picfile.imwrite(name, array)
    numpy.testing.assert_array_equal(picfile.imread(name), array)
    line = picfile.jobs.json_line(picfile.check_facts(name))
    assert line.startswith('{"file":"' + str(tmp_path) + '/shot\\u00FF\\u007F\\t\\"\xe9.pic",')
    assert line == run_pictool(pictool, "check", "--json", name).stdout.strip()


def test_comment_is_stored_as_given():
    array = picture(1, 2, 3)
    cases = [("", b""), ("héllo", "héllo".encode()), (b"\xff\xfe raw", b"\xff\xfe raw"),
             ("x" * 79, b"x" * 79)]
    for given, stored in cases:
        data = picfile.imencode(array, comment=given)
        assert data[8:88] == stored.ljust(80, b"\0")
    with picfile.PicFile(picfile.imencode(array, comment=b"\xff ok")) as pic:
        assert pic.comment_text == "\ufffd ok"


@pytest.mark.parametrize(
    "array, options, words",
    [
        (numpy.zeros((2, 2, 3), numpy.uint16), {}, "uint16"),
        (numpy.zeros((2, 2, 3), numpy.float32), {}, "float32"),
        (numpy.zeros((2, 2), numpy.uint8), {}, "(2, 2)"),
        (numpy.zeros((2, 2, 2), numpy.uint8), {}, "(2, 2, 2)"),
        (numpy.zeros((1, 32768, 3), numpy.uint8), {}, "32767"),
        (numpy.zeros((1, 1, 3), numpy.uint8), {"comment": "x" * 80}, "80 bytes"),
        (numpy.zeros((1, 1, 3), numpy.uint8), {"compression": "zip"}, "'zip'"),
    ],
)
def test_imwrite_refuses_what_pic_cannot_hold(tmp_path, array, options, words):
    with pytest.raises(ValueError, match=words.replace("(", r"\(").replace(")", r"\)")):
        picfile.imwrite(tmp_path / "x.pic", array, **options)
    assert not (tmp_path / "x.pic").exists()


def test_every_layout_reads_as_pictool_converts_and_checks(tmp_path, pictool):
    for name, packets in LAYOUTS.items():
        data, starts = layout_file(41, 5, packets)
        variants = {"whole": data, "trailing": data + b"\1\2\3"}
        for cut in (starts[0] + 1, starts[2] + 5, len(data) - 1):
            variants[f"cut at {cut}"] = data[:cut]
        for variant, content in variants.items():
            where = f"{name}, {variant}"
            path = tmp_path / "in.pic"
            path.write_bytes(content)
            array, caught = read_quietly(path)
            run_pictool(pictool, "convert", str(path), str(tmp_path / "out.pam"))
            depth, body = read_pam(tmp_path / "out.pam")
            assert array.shape[2] == depth, where
            assert array.tobytes() == body, where
            line = run_pictool(pictool, "check", "--json", str(path)).stdout.strip()
            assert json.loads(line) == picfile.check_facts(path), where
            assert picfile.jobs.json_line(picfile.check_facts(path)) == line, where
            assert bool(caught) == (json.loads(line)["damage"] is not None), where


def test_damage_warns_with_the_partial_picture_or_raises_when_strict():
    array = picture(30, 40, 4)
    data = picfile.imencode(array)
    cut = data[: len(data) // 2]
    partial, caught = read_quietly(cut)
    (warning,) = caught
    assert warning.category is picfile.PicDamageWarning
    damage = warning.message
    assert (damage.row, damage.reason) == (picfile.check_facts(cut)["damage"]["row"], "cut short")
    assert str(damage).startswith("damaged: cut short in row %d of 30 (offset " % damage.row)
    numpy.testing.assert_array_equal(partial[: damage.row], array[: damage.row])
    assert not partial[damage.row :].any()
    with pytest.raises(picfile.PicError, match="damaged: cut short in row"):
        picfile.imread(cut, strict=True)
    with picfile.PicFile(cut, strict=True) as pic:
        assert pic.check()["rowsComplete"] == damage.row
        with pytest.raises(picfile.PicError):
            pic.asarray()


def test_errors_say_what_pictool_says(tmp_path):
    (tmp_path / "junk.pic").write_bytes(b"not a picture at all")
    with pytest.raises(picfile.PicError, match=r"junk.pic: not a PIC file$"):
        picfile.imread(tmp_path / "junk.pic")
    assert issubclass(picfile.PicError, ValueError)
    with pytest.raises(FileNotFoundError):
        picfile.imread(tmp_path / "missing.pic")
    with pytest.raises(IsADirectoryError):
        picfile.imread(tmp_path)
    big = header_bytes(300, 200, [(0, 0xE0)])
    with pytest.raises(picfile.PicError, match="image is 300 x 200, more pixels than the limit"):
        picfile.imread(big, max_pixels=1000)
    assert picfile.check_facts(tmp_path / "junk.pic") == {
        "file": str(tmp_path / "junk.pic"),
        "result": 13,
        "error": "not a PIC file",
    }
    with pytest.raises(picfile.PicError):
        picfile.PicFile(b"")
    closed = picfile.PicFile(picfile.imencode(picture(1, 1, 3)))
    closed.close()
    with pytest.raises(ValueError, match="closed"):
        closed.asarray()


def test_a_failed_write_keeps_the_earlier_file(tmp_path):
    earlier = picfile.imencode(picture(2, 2, 3))
    target = tmp_path / "shot.pic"
    target.write_bytes(earlier)
    # A file size limit below the new file's size: the write fails with EFBIG.
    script = (
        "import resource, signal, numpy, picfile, sys\n"
        "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
        "resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))\n"
        "try:\n"
        "    picfile.imwrite(sys.argv[1], numpy.full((300, 300, 4), 7, numpy.uint8), compression='raw')\n"
        "except OSError as error:\n"
        "    print(type(error).__name__, error.errno)\n"
    )
    out = subprocess.run([sys.executable, "-c", script, str(target)], capture_output=True,
                         text=True, check=True, env=os.environ)
    assert out.stdout.startswith("OSError"), out.stderr
    assert target.read_bytes() == earlier
    assert sorted(os.listdir(tmp_path)) == ["shot.pic"]
    with pytest.raises(FileNotFoundError):
        picfile.imwrite(tmp_path / "no" / "such.pic", picture(1, 1, 3))


def test_threads_read_at_once(tmp_path):
    arrays = [picture(64, 256, 3 + index % 2, seed=index) for index in range(8)]
    for index, array in enumerate(arrays):
        picfile.imwrite(tmp_path / f"{index}.pic", array)
    results = [None] * len(arrays)

    def read(index):
        for _ in range(20):
            results[index] = picfile.imread(tmp_path / f"{index}.pic")

    threads = [threading.Thread(target=read, args=(index,)) for index in range(len(arrays))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for array, result in zip(arrays, results):
        numpy.testing.assert_array_equal(result, array)
