// Times picfile.mjs's decode (the WebAssembly module) on PIC files, as
// pic_image_decode times the native reader: per file the first decode in
// this process, then the median of RUNS more with the pixels copied out to
// a buffer of their own each time, and the median of RUNS into one buffer
// (decode's `into`).
//   usage: node bench/wasm_decode.mjs SITE [--runs N] FILE...
// SITE is the web build's site folder (build/web/web/site). Prints one line
// a file: "FILE first MS median MS into MS".
import {readFileSync} from 'node:fs';
import {join} from 'node:path';
import {pathToFileURL} from 'node:url';

let [site, ...files] = process.argv.slice(2);
let runs = 15;
if (files[0] === '--runs') {
    runs = Math.max(1, Number(files[1]));
    files = files.slice(2);
}
const {decode} = await import(pathToFileURL(join(site, 'picfile.mjs')));

function decodeMs(bytes, into) {
    const start = performance.now();
    const picture = decode(bytes, {into});
    const ms = performance.now() - start;
    if (picture.error !== null)
        throw new Error(picture.error);
    return ms;
}

for (const file of files) {
    const bytes = readFileSync(file);
    const first = decodeMs(bytes);
    const median = (into) => {
        const times = Array.from({length: runs}, () => decodeMs(bytes, into)).sort((a, b) => a - b);
        return times[times.length >> 1].toFixed(2);
    };
    const warm = median(undefined);
    const into = new Uint8ClampedArray(decode(bytes).rgba.length);
    console.log(`${file} first ${first.toFixed(2)} median ${warm} into ${median(into)}`);
}
