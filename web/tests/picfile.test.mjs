// picfile.mjs in node: decode gives pictool's pixels, damage and words on
// every file of the test corpora; info gives the header's facts; and no
// input, however wrong, makes either call throw.
import assert from 'node:assert/strict';
import {readFileSync} from 'node:fs';
import {basename, join} from 'node:path';
import {test} from 'node:test';
import {pathToFileURL} from 'node:url';

import {SITE, corpusFiles, pictoolAnswer, samples} from './corpus.mjs';

const {decode, info, DEFAULT_MAX_PIXELS} = await import(pathToFileURL(join(SITE, 'picfile.mjs')));

// A raw RGB PIC file of width x height, every byte 9, with `comment`; with
// `rows` false its header alone.
function picBytes(width, height, comment = new Uint8Array(0), rows = true) {
    const bytes = new Uint8Array(108 + (rows ? width * height * 3 : 0)).fill(9, 108);
    const view = new DataView(bytes.buffer);
    view.setUint32(0, 0x5380F634);
    view.setUint32(4, 0x406CCCCD);
    bytes.set(comment.subarray(0, 79), 8);
    bytes.set([0x50, 0x49, 0x43, 0x54], 88);
    view.setUint16(92, width);
    view.setUint16(94, height);
    view.setFloat32(96, 1);
    view.setUint16(100, 3);
    bytes.set([0, 8, 0, 0xE0], 104);
    return bytes;
}

test('decode gives pictool\'s pixels, damage and words on every corpus file', () => {
    for (const path of corpusFiles()) {
        const expected = pictoolAnswer(path);
        const picture = decode(readFileSync(path));
        const name = basename(path);
        if (expected.error !== undefined) {
            // pictool may add what the file is: "not a PIC file (a PNG image)".
            assert.ok(picture.error && expected.error.startsWith(picture.error),
                      `${name}: ${picture.error} / ${expected.error}`);
            assert.equal(picture.rgba, null);
            continue;
        }
        assert.equal(picture.error, null, name);
        assert.deepEqual([picture.width, picture.height, picture.alpha],
                         [expected.width, expected.height, expected.alpha], name);
        assert.ok(Buffer.from(picture.rgba).equals(Buffer.from(expected.rgba)), `${name}: pixels`);
        assert.deepEqual(picture.damage && {row: picture.damage.row, offset: picture.damage.offset,
                                            reason: picture.damage.reason},
                         expected.damage, name);
    }
});

test('info gives the header\'s facts without reading the rows', () => {
    const [sample] = samples();
    const bytes = readFileSync(sample);
    const facts = info(bytes.subarray(0, 112)); // the header and its packets alone
    assert.deepEqual({...facts}, {
        error: null, width: 256, height: 192, aspect: 1, alpha: true,
        packets: 'mixed RGB + mixed A',
        comment: 'Created with Dorvanquil PIC Driver:bundled sample, made by the project',
        rgba: null, damage: null,
    });
    const decoded = decode(bytes);
    assert.deepEqual({...decoded, rgba: null}, facts);
    assert.equal(decoded.rgba.length, 256 * 192 * 4);
    // Into a caller's buffer, large enough or not.
    const into = new Uint8ClampedArray(256 * 192 * 4 + 10);
    const placed = decode(bytes, {into});
    assert.ok(placed.rgba.buffer === into.buffer && placed.rgba.length === 256 * 192 * 4);
    assert.deepEqual(placed.rgba, decoded.rgba);
    assert.equal(decode(bytes, {into: into.subarray(0, 99)}).error,
                 'into holds 99 bytes; the picture needs 196608');
    assert.equal(decode(bytes, {into: new Uint8Array(9)}).error, 'into must be a Uint8ClampedArray');
    // Comments: UTF-8 where the bytes are, and any other byte as its character.
    const text = (bytes) => info(picBytes(1, 1, Uint8Array.from(bytes))).comment;
    assert.equal(text([0x63, 0x61, 0x66, 0xC3, 0xA9]), 'café');
    assert.equal(text([0x63, 0x61, 0x66, 0xE9, 0x21]), 'café!');
    assert.equal(text([0xE2, 0x82, 0xAC, 0x20, 0xE2, 0x82]), '€ â\u0082');
});

test('no input makes decode or info throw: each says what is wrong', () => {
    const wrong = 'not PIC data: expected a Uint8Array, an ArrayBuffer or a typed array';
    for (const value of [null, undefined, 'shot.pic', 42, {}, [1, 2, 3]]) {
        assert.equal(decode(value).error, wrong);
        assert.equal(info(value).error, wrong);
    }
    const sample = readFileSync(samples()[0]);
    const cases = [
        [new Uint8Array(0), 'file ends inside the header'],
        [sample.subarray(0, 50), 'file ends inside the header'],
        [sample.subarray(0, 106), 'file ends inside the channel packets'],
        [new TextEncoder().encode('just text, not a picture'), 'not a PIC file'],
        [picBytes(0, 4), 'no pixels: 0 x 4'],
        [picBytes(65535, 65535, undefined, false), 'image is 65535 x 65535, more pixels than the limit'],
    ];
    for (const [bytes, words] of cases)
        assert.equal(decode(bytes).error, words);
    assert.equal(decode(picBytes(30, 20), {maxPixels: 599}).error,
                 'image is 30 x 20, more pixels than the limit');
    assert.equal(decode(picBytes(30, 20).buffer, {maxPixels: 600}).error, null);
    assert.equal(DEFAULT_MAX_PIXELS, 2 ** 28);
    // More than a 32-bit module can hold: refused before anything is decoded,
    // and the next call works.
    const huge = picBytes(65535, 65535, undefined, false);
    assert.equal(decode(huge, {maxPixels: Infinity}).error, 'out of memory');
    assert.equal(decode(sample).error, null);
    // Any prefix of a file, and any bytes at all.
    for (let cut = 0; cut < sample.length; cut += 997)
        assert.equal(typeof decode(sample.subarray(0, cut)).width, 'number');
    let seed = 7;
    const random = () => (seed = (seed * 1103515245 + 12345) % 2 ** 31) & 255;
    for (let round = 0; round < 200; ++round) {
        const bytes = Uint8Array.from({length: 120 + round}, random);
        bytes.set(sample.subarray(0, round % 2 ? 104 : 0));
        assert.equal(typeof decode(bytes).width, 'number');
    }
});
