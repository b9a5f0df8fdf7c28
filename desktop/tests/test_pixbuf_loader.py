"""PIC on the desktop as a GTK program sees it, after `cmake --install` into a
fresh prefix with only that prefix added to XDG_DATA_DIRS and its loader cache
named: gio's file type, GdkPixbuf's pixels against pictool's on the sample and
the fuzz corpora (whole, damaged and refused files), loading in pieces, file
information, the pixel limit and a thumbnail through the installed entry.

The build folder comes from PIC_BUILD_DIR.
"""
import glob
import os
import shlex
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("PIC_BUILD_DIR", os.path.join(SOURCE, "build", "native"))
PICTOOL = os.path.join(BUILD, "bin", "pictool")
CORPUS = sorted(glob.glob(os.path.join(SOURCE, "fuzz", "corpus", "pic_image_fuzz", "*.pic"))
                + glob.glob(os.path.join(SOURCE, "fuzz", "regressions", "*.pic")))


@pytest.fixture(scope="session")
def prefix(tmp_path_factory):
    """The build installed into a fresh prefix, and this process's
    environment pointed at it (before GdkPixbuf reads its loader cache)."""
    root = tmp_path_factory.mktemp("prefix")
    subprocess.run(["cmake", "--install", BUILD, "--prefix", str(root)], check=True,
                   capture_output=True)
    caches = glob.glob(str(root / "lib" / "**" / "loaders.cache"), recursive=True)
    assert len(caches) == 1
    os.environ["XDG_DATA_DIRS"] = f"{root}/share:/usr/local/share:/usr/share"
    os.environ["XDG_DATA_HOME"] = str(tmp_path_factory.mktemp("data-home"))
    os.environ["GDK_PIXBUF_MODULE_FILE"] = caches[0]
    return root


@pytest.fixture(scope="session")
def pixbuf(prefix):
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf, GLib
    return GdkPixbuf, GLib


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """The bundled sample as our two layouts: RGBA run-length and RGB raw."""
    folder = tmp_path_factory.mktemp("samples")
    sample = os.path.join(SOURCE, "samples", "sample.png")
    made = {"sample.pic": ["--alpha", "--rle"], "sample-rgb-raw.pic": ["--no-alpha", "--raw"]}
    for name, options in made.items():
        subprocess.run([PICTOOL, "convert", sample, str(folder / name)] + options, check=True)
    return [str(folder / name) for name in made]


def pictool_png(path, folder):
    """pictool's 8-bit PNG of a PIC file (None when it makes none) and its
    words on stderr: the loader gives 8 bits a channel, a 16-bit file's
    values rounded."""
    out = os.path.join(folder, os.path.basename(path) + ".png")
    done = subprocess.run([PICTOOL, "convert", path, out, "--depth", "8"], capture_output=True,
                          text=True)
    return (out if os.path.exists(out) else None), done.stderr.strip()


def pixels(picture):
    """Rows without their padding, and whether there is alpha."""
    stride, row = picture.get_rowstride(), picture.get_width() * picture.get_n_channels()
    data = picture.get_pixels()
    rows = b"".join(data[y * stride:y * stride + row] for y in range(picture.get_height()))
    return picture.get_width(), picture.get_height(), picture.get_has_alpha(), rows


def load_in_pieces(pixbuf, path, piece):
    """A GdkPixbufLoader fed `piece` bytes at a time: (picture or None,
    error message or None, rows reported updated)."""
    GdkPixbuf, GLib = pixbuf
    loader = GdkPixbuf.PixbufLoader()
    updated = []
    loader.connect("area-updated", lambda _, x, y, w, h: updated.append((y, h)))
    data = open(path, "rb").read()
    error = None
    try:
        for at in range(0, len(data), piece):
            loader.write(data[at:at + piece])
        loader.close()
    except GLib.Error as failure:
        error = failure.message
        try:
            loader.close()
        except GLib.Error:
            pass
    return loader.get_pixbuf(), error, sum(h for _, h in updated)


def test_gio_and_gdk_pixbuf_tell_pic_files_by_their_bytes(pixbuf, samples, tmp_path):
    from gi.repository import Gio
    GdkPixbuf, _ = pixbuf
    named_other = tmp_path / "render.bin"
    named_other.write_bytes(open(samples[0], "rb").read())
    for path in samples[0], str(named_other):
        info = subprocess.run(["gio", "info", "-a", "standard::content-type", path],
                              capture_output=True, text=True, check=True).stdout
        assert "standard::content-type: image/x-softimage-pic" in info, info
    assert Gio.content_type_is_a("image/x-softimage-pic", "image/*")
    # Another format named .pic goes to its own loader, chosen by its bytes.
    not_pic = tmp_path / "photo.pic"
    not_pic.write_bytes(open(os.path.join(SOURCE, "samples", "sample.png"), "rb").read())
    file_format, _, _ = GdkPixbuf.Pixbuf.get_file_info(str(not_pic))
    assert file_format.get_name() == "png"
    assert GdkPixbuf.Pixbuf.new_from_file(str(not_pic)).get_width() == 256


@pytest.mark.parametrize("piece", [1 << 20, 7])
def test_gives_pictools_pixels_on_the_samples(pixbuf, samples, tmp_path, piece):
    GdkPixbuf, _ = pixbuf
    for path in samples:
        png, _ = pictool_png(path, tmp_path)
        expected = pixels(GdkPixbuf.Pixbuf.new_from_file(png))
        assert pixels(GdkPixbuf.Pixbuf.new_from_file(path)) == expected
        picture, error, updated = load_in_pieces(pixbuf, path, piece)
        assert error is None and pixels(picture) == expected
        assert updated == expected[1]


@pytest.mark.parametrize("path", CORPUS, ids=os.path.basename)
def test_gives_pictools_pixels_and_words_on_the_corpora(pixbuf, tmp_path, path):
    GdkPixbuf, _ = pixbuf
    png, words = pictool_png(path, tmp_path)
    picture, error, _ = load_in_pieces(pixbuf, path, 3)
    if png is None:  # refused: the same words, no picture
        assert picture is None and error and words.endswith(": " + error), (words, error)
        return
    assert pixels(picture) == pixels(GdkPixbuf.Pixbuf.new_from_file(png))
    if "damaged" in words:  # a partial picture, and where its damage starts
        assert error and words.endswith(": " + error), (words, error)
    else:
        assert error is None, error


def test_tells_size_without_loading_and_keeps_the_pixel_limit(pixbuf, samples, monkeypatch):
    GdkPixbuf, GLib = pixbuf
    file_format, width, height = GdkPixbuf.Pixbuf.get_file_info(samples[0])
    assert (file_format.get_name(), width, height) == ("pic", 256, 192)
    assert "image/x-softimage-pic" in file_format.get_mime_types()
    monkeypatch.setenv("PIC_MAX_PIXELS", str(256 * 192 - 1))
    with pytest.raises(GLib.Error, match="image is 256 x 192, more pixels than the limit"):
        GdkPixbuf.Pixbuf.new_from_file(samples[0])


def test_the_installed_thumbnailer_makes_a_thumbnail(pixbuf, prefix, samples, tmp_path):
    GdkPixbuf, _ = pixbuf
    entry = open(prefix / "share" / "thumbnailers" / "softimage-pic.thumbnailer").read()
    assert "MimeType=image/x-softimage-pic;" in entry
    command = next(line for line in entry.splitlines() if line.startswith("Exec="))[5:]
    out = tmp_path / "thumbnail.png"
    fields = {"%s": "128", "%u": "file://" + samples[0], "%o": str(out)}
    environment = {key: value for key, value in os.environ.items()
                   if key != "GDK_PIXBUF_MODULE_FILE"}  # the entry names its cache
    subprocess.run([fields.get(word, word) for word in shlex.split(command)], check=True,
                   env=environment)
    thumbnail = GdkPixbuf.Pixbuf.new_from_file(str(out))
    assert (thumbnail.get_width(), thumbnail.get_height()) == (128, 96)
