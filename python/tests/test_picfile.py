import io
import json
import mmap
import os
import pathlib
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


@pytest.mark.parametrize("shape", [(1, 1, 3), (7, 300, 4), (3, 129, 3)])
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


def test_paths_are_names_and_data_goes_through_imdecode(tmp_path):
    array = picture(5, 9, 3)
    data = picfile.imencode(array)
    folder = os.fsencode(str(tmp_path))
    written = io.BytesIO()
    for target in (str(tmp_path / "s.pic"), tmp_path / "p.pic", folder + b"/b\xff.pic", written):
        picfile.imwrite(target, array)
    assert written.getvalue() == data
    names = sorted(os.path.join(folder, name) for name in os.listdir(folder))
    sources = [lambda: io.BytesIO(data), lambda: os.fsdecode(names[0]),
               lambda: pathlib.Path(os.fsdecode(names[1]))]
    sources += [lambda name=name: name for name in names]
    for source in sources:
        numpy.testing.assert_array_equal(picfile.imread(source()), array)
        with picfile.PicFile(source()) as pic:
            assert pic.shape == array.shape and pic.check()["result"] == 0
        assert picfile.check_facts(source())["rowsComplete"] == 5
    spread = numpy.zeros(2 * len(data), numpy.uint8)
    spread[::2] = numpy.frombuffer(data, numpy.uint8)
    with open(names[0], "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        for buffer in (data, bytearray(data), memoryview(data), numpy.frombuffer(data, numpy.uint8),
                       spread[::2], mapped):
            numpy.testing.assert_array_equal(picfile.imdecode(buffer), array)


def text_mode(path, mode):
    return open(path, mode, encoding="latin-1")


@pytest.mark.parametrize(
    "call, words",
    [
        (lambda path: picfile.imread(text_mode(path, "r")),
         "imread takes a binary file, not the text-mode TextIOWrapper '.*a.pic': open it with 'rb'"),
        (lambda path: picfile.PicFile(io.StringIO("text")),
         "PicFile takes a binary file, not the text-mode StringIO: open it with 'rb'"),
        (lambda path: picfile.imwrite(text_mode(path, "w"), picture(1, 1, 3)), "open it with 'wb'"),
        (lambda path: picfile.imread(bytearray(b"data")),
         "not bytearray; for PIC data in memory use picfile.imdecode"),
        (lambda path: picfile.check_facts(7), "check takes a path .* not int$"),
        (lambda path: picfile.imdecode("text"), "bytes-like object, not str"),
    ],
)
def test_what_is_no_path_nor_binary_file_is_a_type_error_naming_it(tmp_path, call, words):
    path = tmp_path / "a.pic"
    path.write_bytes(picfile.imencode(picture(1, 1, 3)))
    with pytest.raises(TypeError, match=words):
        call(path)


def test_names_that_are_not_utf8(tmp_path, pictool):
    name = os.fsdecode(os.path.join(os.fsencode(str(tmp_path)), b"shot\xff\x7f\t\"\xc3\xa9.pic"))
    array = picture(2, 2, 3)
    picfile.imwrite(name, array)
    numpy.testing.assert_array_equal(picfile.imread(name), array)
    line, whole = picfile.jobs.check_file(name)
    assert line.startswith('{"file":"' + str(tmp_path) + '/shot\\udcff\\u007F\\t\\"\xe9.pic",')
    assert whole and json.loads(line) == picfile.check_facts(name)
    assert json.loads(line)["file"] == name  # the bytes again, through os.fsencode
    assert line == run_pictool(pictool, "check", "--json", name).stdout.strip()


def test_comment_is_stored_as_given():
    array = picture(1, 2, 3)
    cases = [("", b""), ("héllo", "héllo".encode()), (b"\xff\xfe raw", b"\xff\xfe raw"),
             ("x" * 79, b"x" * 79)]
    for given, stored in cases:
        data = picfile.imencode(array, comment=given)
        assert data[8:88] == stored.ljust(80, b"\0")
    with picfile.PicFile(io.BytesIO(picfile.imencode(array, comment=b"\xff ok"))) as pic:
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
        (numpy.zeros((0, 10, 3), numpy.uint8), {}, "^no pixels: 10 x 0$"),
        (numpy.zeros((4, 0, 4), numpy.uint8), {}, "^no pixels: 0 x 4$"),
    ],
)
def test_imwrite_refuses_what_pic_cannot_hold(tmp_path, array, options, words):
    refusal = picfile.PicError if "no pixels" in words else ValueError
    with pytest.raises(refusal, match=words.replace("(", r"\(").replace(")", r"\)")):
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
            assert picfile.jobs.check_file(str(path))[0] == line, where
            assert bool(caught) == (json.loads(line)["damage"] is not None), where


def test_damage_warns_with_the_partial_picture_or_raises_when_strict():
    array = picture(30, 40, 4)
    data = picfile.imencode(array)
    cut = data[: len(data) // 2]
    partial, caught = read_quietly(io.BytesIO(cut))
    (warning,) = caught
    assert warning.category is picfile.PicDamageWarning
    damage = warning.message
    assert (damage.row, damage.reason) == (picfile.check_facts(io.BytesIO(cut))["damage"]["row"], "cut short")
    assert str(damage).startswith("damaged: cut short in row %d of 30 (offset " % damage.row)
    numpy.testing.assert_array_equal(partial[: damage.row], array[: damage.row])
    assert not partial[damage.row :].any()
    with pytest.raises(picfile.PicError, match="damaged: cut short in row"):
        picfile.imdecode(cut, strict=True)
    with picfile.PicFile(io.BytesIO(cut), strict=True) as pic:
        assert pic.check()["rowsComplete"] == damage.row
        with pytest.raises(picfile.PicError):
            pic.asarray()


def test_sixteen_bits_read_as_stored_and_salvage_keeps_the_rows_after_damage(tmp_path):
    from PIL import Image

    import picfile.pillow  # noqa: F401 - registers PIC with Pillow

    stored = os.path.join(os.path.dirname(__file__), "..", "..", "fuzz", "corpus", "check_fuzz",
                          "rgba16_raw_3x2.pic")
    wide = picfile.imread(stored)
    assert wide.dtype == numpy.uint16 and (wide % 257).any()  # not 8-bit values widened
    with Image.open(stored) as image:  # Pillow's modes hold 8 bits: rounded there
        numpy.testing.assert_array_equal(numpy.asarray(image), (wide / 257 + 0.5).astype(numpy.uint8))
    data, starts = layout_file(41, 12, LAYOUTS["mixed RGB + mixed A"])
    whole = picfile.imdecode(data)
    broken = bytearray(data)
    broken[starts[3]] = 0xFF  # a run of 128 in a row of 41
    for salvage, kept in ((False, range(3)), (True, [*range(3), *range(4, 12)])):
        array, (warning,) = read_quietly(io.BytesIO(broken), salvage=salvage)
        assert (warning.message.row, warning.message.reason) == (3, "run past row end")
        assert str(warning.message).endswith(
            "; salvaged: row 3 lost, 8 rows found again after the damage" if salvage else "(offset 454)")
        assert [y for y in range(12) if array[y].any()] == list(kept), salvage
        numpy.testing.assert_array_equal(array[list(kept)], whole[list(kept)])
    with pytest.raises(picfile.PicError, match="salvaged: row 3 lost"):
        picfile.imdecode(broken, strict=True, salvage=True)
    (tmp_path / "broken.pic").write_bytes(broken)
    for source in (io.BytesIO(broken), tmp_path / "broken.pic"):
        with picfile.PicFile(source) as pic:
            assert "salvage" not in pic.check()
            facts = pic.check(salvage=True)
        assert facts["salvage"] == {"lostRows": [[3, 3]], "recoveredRows": 8}
        assert (facts["rowsComplete"], facts["damage"]["row"]) == (3, 3)  # still damaged


def test_errors_say_what_pictool_says(tmp_path, pictool):
    files = {"junk.pic": b"not a picture at all", "empty.pic": b"", "missing.pic": None,
             "folder": "folder", "no rows.pic": header_bytes(480, 0, [(0, 0xE0)]),
             "no columns.pic": header_bytes(0, 7, [(2, 0xF0)])}
    for name, content in files.items():
        path = tmp_path / name
        if content == "folder":
            path.mkdir()
        elif content is not None:
            path.write_bytes(content)
        said = json.loads(run_pictool(pictool, "check", "--json", str(path)).stdout)
        assert picfile.check_facts(path) == said, name
        with pytest.raises((picfile.PicError, OSError)) as caught:
            picfile.imread(path)
        if said["result"] == 13:
            assert type(caught.value) is picfile.PicError, name
            assert str(caught.value) == f"{path}: {said['error']}", name
        else:
            assert os.strerror(caught.value.errno).lower() == said["error"], name
    assert issubclass(picfile.PicError, ValueError)
    big = header_bytes(300, 200, [(0, 0xE0)])
    with pytest.raises(picfile.PicError, match="image is 300 x 200, more pixels than the limit"):
        picfile.imdecode(big, max_pixels=1000)
    with pytest.raises(picfile.PicError):
        picfile.PicFile(io.BytesIO(b""))
    closed = picfile.PicFile(io.BytesIO(picfile.imencode(picture(1, 1, 3))))
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
