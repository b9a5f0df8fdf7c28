"""The registrations with Pillow and imageio."""

import io
import warnings

import imageio
import numpy
import pytest
from PIL import Image, ImageFile

import picfile
import picfile.imageio  # noqa: F401 - registers PIC
import picfile.pillow  # noqa: F401 - registers PIC


@pytest.mark.parametrize("mode", ["RGB", "RGBA"])
@pytest.mark.parametrize("compression", ["rle", "raw"])
def test_round_trips_exactly(tmp_path, mode, compression):
    rng = numpy.random.default_rng(3)
    array = rng.integers(0, 256, size=(17, 33, len(mode)), dtype=numpy.uint8)
    array[:, :20] = array[:, :1]
    Image.fromarray(array, mode).save(
        tmp_path / "a.pic", compression=compression, comment="take 3", aspect=2.0
    )
    assert (tmp_path / "a.pic").read_bytes() == picfile.imencode(
        array, compression=compression, comment="take 3", aspect=2.0
    )
    with Image.open(tmp_path / "a.pic") as image:
        assert (image.format, image.mode, image.size) == ("PIC", mode, (33, 17))
        assert image.info == {"comment": b"take 3", "aspect": 2.0}
        numpy.testing.assert_array_equal(numpy.asarray(image), array)
        image.save(tmp_path / "again.pic", compression=compression)
    assert (tmp_path / "again.pic").read_bytes() == (tmp_path / "a.pic").read_bytes()
    with Image.open(io.BytesIO(picfile.imencode(array))) as image:
        numpy.testing.assert_array_equal(numpy.asarray(image), array)


def test_other_formats_and_modes(tmp_path):
    with pytest.raises(OSError, match="cannot write mode L"):
        Image.new("L", (2, 2)).save(tmp_path / "grey.pic")
    Image.new("RGB", (2, 2)).save(tmp_path / "not.png")
    long_comment = Image.new("RGB", (2, 2))
    long_comment.info.update(comment=b"x" * 80, aspect="wide")  # as another format's may be
    long_comment.save(tmp_path / "plain.pic")
    with picfile.PicFile(tmp_path / "plain.pic") as pic:
        assert (pic.comment, pic.aspect) == (b"", 1.0)
    with Image.open(tmp_path / "not.png") as image:
        assert image.format == "PNG"
    (tmp_path / "junk.pic").write_bytes(b"\x53\x80\xf6\x34 and nothing more")
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(tmp_path / "junk.pic")


def test_a_damaged_file_loads_as_a_truncated_one_does():
    array = numpy.full((20, 8, 3), 9, numpy.uint8)
    whole = picfile.imencode(array, compression="raw")
    cut = whole[:-30]
    with Image.open(io.BytesIO(whole)) as image:
        image.verify()
    with Image.open(io.BytesIO(cut)) as image:
        with pytest.raises(OSError, match="damaged: cut short in row 18"):
            image.verify()
    with Image.open(io.BytesIO(cut)) as image:
        with pytest.raises(OSError, match="damaged: cut short in row 18"):
            image.load()
    ImageFile.LOAD_TRUNCATED_IMAGES = True
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with Image.open(io.BytesIO(cut)) as image:
                loaded = numpy.asarray(image)
    finally:
        ImageFile.LOAD_TRUNCATED_IMAGES = False
    assert [w.category for w in caught] == [picfile.PicDamageWarning]
    numpy.testing.assert_array_equal(loaded[:18], array[:18])


def test_imageio_reads_and_writes_with_the_meta(tmp_path):
    array = numpy.arange(4 * 5 * 4, dtype=numpy.uint8).reshape(4, 5, 4)
    picfile.imwrite(tmp_path / "a.pic", array, comment="take 4", aspect=0.5)
    data = (tmp_path / "a.pic").read_bytes()
    for source in (str(tmp_path / "a.pic"), data, io.BytesIO(data)):
        read = imageio.imread(source)
        numpy.testing.assert_array_equal(read, array)
        assert read.meta == {"comment": b"take 4", "aspect": 0.5}
    imageio.imwrite(tmp_path / "again.pic", read)
    assert (tmp_path / "again.pic").read_bytes() == data
    written = imageio.imwrite("<bytes>", array[..., :3], format="PIC", compression="raw")
    assert written == picfile.imencode(array[..., :3], compression="raw")
    with pytest.raises(ValueError, match="uint8"):
        imageio.imwrite(tmp_path / "b.pic", array.astype(numpy.float32))
