"""pictool and `python3 -m picfile` are two front ends on one engine: the
same inputs give the same output bytes, in every format, and the same JSON
lines, but for the time the plug-in's driver took."""

import io
import json
import os
import re
import shutil

import pytest
from conftest import run_pictool

import picfile
from picfile import _core
from picfile.__main__ import main

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")

# name: where the input comes from (a file of the source tree, or made here)
INPUTS = {
    "sample": "samples/sample.png",
    "rgba_rle": "fuzz/corpus/load_image_fuzz/rgba_rle_4x2.pic",
    "alpha_first": "fuzz/corpus/load_image_fuzz/raw_alpha_first_trailing.pic",
    "cut": "fuzz/corpus/load_image_fuzz/rle_cut_short.pic",  # damaged
    "zero_count": "fuzz/corpus/load_image_fuzz/zero_count.pic",  # damaged
    "height_zero": "fuzz/corpus/load_image_fuzz/height_zero.pic",
    "wrong_magic": "fuzz/corpus/header_fuzz/wrong_magic.pic",
    "commented": None,  # a comment and a pixel ratio of 0.5
    "rgb16": "fuzz/corpus/load_image_fuzz/rgb16_mixed_9x4.pic",
    "alpha16": "fuzz/corpus/load_image_fuzz/rgb8_alpha16_mixed_6x3.pic",  # 8-bit colour
    "flipped": "fuzz/corpus/salvage_fuzz/rgba_mixed_flipped_count.pic",  # rows after damage
}
# What only the plug-in's driver measures.
TIMES = ("driverMs",)


def output_words():
    return re.split(r", | or ", _core.output_words())


def make_inputs(folder):
    names = []
    for stem, source in INPUTS.items():
        path = os.path.join(folder, stem + (".png" if stem == "sample" else ".pic"))
        if source is None:
            picfile.imwrite(path, picfile.imread(os.path.join(ROOT, INPUTS["rgba_rle"])),
                            comment="take 2 \u00e9", aspect=0.5)
        else:
            shutil.copyfile(os.path.join(ROOT, source), path)
        names.append(path)
    return names


def untimed(line):
    record = json.loads(line)
    for key in TIMES:
        record.pop(key, None)
    return record


def picfile_lines(*arguments):
    out = io.StringIO()
    main([*arguments, "-q"], stdout=out)
    return {untimed(line).get("file") or untimed(line)["inputs"][0]: untimed(line)
            for line in out.getvalue().splitlines()}


@pytest.mark.parametrize("flags", [[], ["--salvage"]])
def test_pictool_and_picfile_check_and_convert_alike(tmp_path, pictool, flags):
    inputs = make_inputs(str(tmp_path))
    checked = picfile_lines("check", *inputs, *flags)
    assert (checked[inputs[-1]].get("salvage") or {}).get("recoveredRows") == (8 if flags else None)
    for path in inputs:
        said = run_pictool(pictool, "check", "--json", *flags, path).stdout
        assert untimed(said) == checked[path], path
    for word in output_words():
        out = str(tmp_path / word)
        converted = picfile_lines("convert", *inputs, "--to", word, "-o", out, *flags)
        assert converted[inputs[1]]["ok"], word
        for path in inputs:
            target = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + "." + word)
            written = open(target, "rb").read() if os.path.exists(target) else None
            if written is not None:
                os.remove(target)
            said = run_pictool(pictool, "convert", "--json", "-q", *flags, path, target)
            assert untimed(said.stdout) == converted[path], (path, word)
            assert (open(target, "rb").read() if os.path.exists(target) else None) == written, (
                path, word)
