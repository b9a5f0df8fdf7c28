// The module and the viewer page in headless Chromium: decode gives
// pictool's pixels on every corpus file there too; the page opens and takes
// dropped PIC files, shows each on a checkerboard with its facts and whether
// it is whole, zooms 1:1 and to fit, and saves exactly the picture as PNG;
// and nothing it reads goes anywhere.
import assert from 'node:assert/strict';
import {createHash} from 'node:crypto';
import {readFileSync} from 'node:fs';
import {after, before, test} from 'node:test';
import {basename, join} from 'node:path';
import {inflateSync} from 'node:zlib';

import {ORIGIN, launch, openSite} from './browser.mjs';
import {SOURCE, corpusFiles, pictoolAnswer, samples} from './corpus.mjs';

let browser;
before(async () => {
    browser = await launch();
});
after(() => browser?.close());

const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

test('decode in Chromium gives pictool\'s pixels, damage and words on every corpus file',
     async () => {
    const {page, elsewhere} = await openSite(browser);
    for (const path of corpusFiles()) {
        const expected = pictoolAnswer(path);
        const picture = await page.evaluate(async (bytes) => {
            const {decode} = await import('./picfile.mjs');
            const got = decode(Uint8Array.from(bytes));
            const digest = got.rgba && await crypto.subtle.digest('SHA-256', got.rgba);
            const hex = digest && [...new Uint8Array(digest)]
                .map((byte) => byte.toString(16).padStart(2, '0')).join('');
            return {...got, rgba: hex};
        }, [...readFileSync(path)]);
        const name = basename(path);
        if (expected.error !== undefined) {
            assert.ok(picture.error && expected.error.startsWith(picture.error), name);
            continue;
        }
        assert.equal(picture.error, null, name);
        assert.equal(picture.rgba, sha256(expected.rgba), `${name}: pixels`);
        assert.deepEqual(picture.damage && {row: picture.damage.row, offset: picture.damage.offset,
                                            reason: picture.damage.reason},
                         expected.damage, name);
    }
    assert.deepEqual(elsewhere, []);
});

// The PNG's pixels, for the colour types the page writes (RGB, RGBA; 8 bits;
// every row filtered with 0).
function pngPixels(png) {
    const chunks = {};
    for (let at = 8; at < png.length;) {
        const length = png.readUInt32BE(at);
        const type = png.toString('latin1', at + 4, at + 8);
        chunks[type] = Buffer.concat([chunks[type] ?? Buffer.alloc(0),
                                      png.subarray(at + 8, at + 8 + length)]);
        at += 12 + length;
    }
    const width = chunks.IHDR.readUInt32BE(0), height = chunks.IHDR.readUInt32BE(4);
    const channels = chunks.IHDR[9] === 6 ? 4 : 3;
    const rows = inflateSync(chunks.IDAT);
    const pixels = Buffer.alloc(width * height * channels);
    for (let y = 0; y < height; ++y) {
        assert.equal(rows[y * (width * channels + 1)], 0);
        rows.copy(pixels, y * width * channels, y * (width * channels + 1) + 1,
                  (y + 1) * (width * channels + 1));
    }
    return {width, height, channels, pixels};
}

test('the page shows opened and dropped pictures with their facts, zooms and saves PNG',
     async () => {
    const [sample, sampleRgb] = samples();
    const damaged = join(SOURCE, 'fuzz', 'corpus', 'pic_image_fuzz', 'pure_rgba_cut.pic');
    const notPic = join(SOURCE, 'samples', 'sample.png');
    const {page, elsewhere} = await openSite(browser, {width: 200, height: 600});
    await page.setInputFiles('#open', [sample, damaged, notPic]);
    await page.waitForSelector('body[data-opened="3"]');
    const figures = page.locator('figure');
    const text = (figure, selector) => figures.nth(figure).locator(selector).innerText();
    assert.equal(await text(0, 'figcaption'), 'sample.pic');
    assert.equal(await text(0, 'dd.size'), '256 × 192');
    assert.equal(await text(0, 'dd.alpha'), 'yes');
    assert.equal(await text(0, 'dd.compression'), 'mixed RGB + mixed A');
    assert.equal(await text(0, 'dd.comment'),
                 'Created with Dorvanquil PIC Driver:bundled sample, made by the project');
    assert.equal(await text(0, '.status'), 'whole');
    assert.equal(await text(1, '.status'), 'damaged: cut short in row 1 of 2 (offset 113)');
    assert.equal(await text(2, '.status'), 'not shown: not a PIC file');

    // The canvas holds the picture (a canvas keeps colour premultiplied by
    // alpha, so translucent colours compare after that), on a checkerboard.
    const expected = pictoolAnswer(sample).rgba;
    const differing = await page.evaluate((wanted) => {
        const canvas = document.querySelector('canvas');
        const shown = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        let count = 0;
        for (let i = 0; i < shown.length; i += 4) {
            const alpha = wanted[i + 3];
            for (let c = 0; c < 4; ++c) {
                const premultiplied = (value) => (c === 3 ? value : value * alpha / 255);
                if (Math.abs(premultiplied(shown[i + c]) - premultiplied(wanted[i + c])) > 1)
                    ++count;
            }
        }
        return count;
    }, [...expected]);
    assert.equal(differing, 0);
    const canvas = figures.nth(0).locator('canvas');
    assert.match(await canvas.evaluate((node) => getComputedStyle(node).backgroundImage),
                 /conic-gradient/);

    // Fit shrinks the picture into the 200-pixel page; 1:1 shows it whole.
    const width = () => canvas.evaluate((node) => node.getBoundingClientRect().width);
    assert.ok(await width() < 200);
    await page.click('[data-zoom="actual"]');
    assert.equal(await width(), 256);
    await page.click('[data-zoom="fit"]');
    assert.ok(await width() < 200);

    // Saved PNG: exactly the picture, RGBA here and RGB for an RGB file.
    for (const [figure, path] of [[0, sample], [3, sampleRgb]]) {
        if (figure === 3) {
            await page.evaluate(async (bytes) => {
                const dropped = new DataTransfer();
                dropped.items.add(new File([Uint8Array.from(bytes)], 'sample-rgb-raw.pic'));
                document.dispatchEvent(new DragEvent('drop', {dataTransfer: dropped}));
            }, [...readFileSync(path)]);
            await page.waitForSelector('body[data-opened="4"]');
        }
        const [download] = await Promise.all([page.waitForEvent('download'),
                                              figures.nth(figure).locator('.save').click()]);
        assert.equal(download.suggestedFilename(), basename(path).replace('.pic', '.png'));
        const png = pngPixels(readFileSync(await download.path()));
        const answer = pictoolAnswer(path);
        const channels = answer.alpha ? 4 : 3;
        const wanted = Buffer.alloc(answer.width * answer.height * channels);
        for (let i = 0; i < answer.width * answer.height; ++i)
            wanted.set(answer.rgba.subarray(i * 4, i * 4 + channels), i * channels);
        assert.deepEqual([png.width, png.height, png.channels], [256, 192, channels]);
        assert.ok(png.pixels.equals(wanted), `${basename(path)}: saved pixels`);
    }
    assert.deepEqual(elsewhere, []);
    assert.ok(!(await page.content()).includes(ORIGIN + '/upload'));
});
