// What the web tests compare with: every file of the test corpora and the
// bundled sample as PIC, each with pictool's pixels (through PAM) and words.
//   PICFILE_SITE  the web build's site folder (picfile.mjs and picfile.wasm)
//   PICTOOL       the native pictool
import {execFileSync, spawnSync} from 'node:child_process';
import {mkdtempSync, readdirSync, readFileSync, existsSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {basename, dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

export const SOURCE = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const SITE = process.env.PICFILE_SITE ?? join(SOURCE, 'build', 'web', 'web', 'site');
const PICTOOL = process.env.PICTOOL ?? join(SOURCE, 'build', 'native', 'bin', 'pictool');
const scratch = mkdtempSync(join(tmpdir(), 'picfile-web-'));

/** The bundled sample as the driver writes it: RGBA run-length, and RGB raw. */
export function samples() {
    const png = join(SOURCE, 'samples', 'sample.png');
    const made = {
        'sample.pic': ['--alpha', '--rle', '--comment', 'bundled sample, made by the project'],
        'sample-rgb-raw.pic': ['--no-alpha', '--raw'],
    };
    return Object.entries(made).map(([name, options]) => {
        const path = join(scratch, name);
        if (!existsSync(path))
            execFileSync(PICTOOL, ['convert', png, path, ...options]);
        return path;
    });
}

export function corpusFiles() {
    const folders = readdirSync(join(SOURCE, 'fuzz', 'corpus'))
        .map((name) => join(SOURCE, 'fuzz', 'corpus', name));
    folders.push(join(SOURCE, 'fuzz', 'regressions'));
    const files = folders.flatMap((folder) => readdirSync(folder)
        .filter((name) => !name.endsWith('.txt')).map((name) => join(folder, name)));
    return [...samples(), ...files];
}

// PAM (P7) as pictool writes it: RGB or RGB_ALPHA, MAXVAL 255.
function readPam(bytes) {
    const end = bytes.indexOf('ENDHDR\n') + 'ENDHDR\n'.length;
    const header = Object.fromEntries(bytes.subarray(0, end).toString('latin1').split('\n')
        .map((line) => line.split(' ')).filter((words) => words.length === 2));
    const [width, height, depth] = [header.WIDTH, header.HEIGHT, header.DEPTH].map(Number);
    const samples = bytes.subarray(end);
    const rgba = new Uint8ClampedArray(width * height * 4).fill(255);
    for (let i = 0; i < width * height; ++i)
        rgba.set(samples.subarray(i * depth, i * depth + depth), i * 4);
    return {width, height, alpha: depth === 4, rgba};
}

let converted = 0;

/**
 * pictool's answer for a file: {error} with its words when it makes no
 * picture, else {width, height, alpha, rgba, damage: null or {row, offset,
 * reason}}.
 */
export function pictoolAnswer(path) {
    const checked = spawnSync(PICTOOL, ['check', '--json', path], {encoding: 'utf8'});
    const facts = JSON.parse(checked.stdout);
    if (facts.error !== undefined)
        return {error: facts.error};
    const pam = join(scratch, `${++converted}.pam`);
    // The module gives 8 bits a channel, a 16-bit file's values rounded.
    const made = spawnSync(PICTOOL, ['convert', path, pam, '--depth', '8'], {encoding: 'utf8'});
    if (!existsSync(pam))
        throw new Error(`pictool made no PAM of ${basename(path)}: ${made.stderr}`);
    return {...readPam(readFileSync(pam)), damage: facts.damage};
}
