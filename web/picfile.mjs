// picfile.mjs: Softimage PIC files in browsers and in node, through
// picfile.wasm beside it (the same reader as pictool and the picfile Python
// package, built for WebAssembly). Nothing leaves the page: the bytes are
// read in the module's own memory.
//
//   import {decode, info} from './picfile.mjs';
//   const picture = decode(new Uint8Array(await file.arrayBuffer()));
//   if (picture.error === null)
//       context.putImageData(new ImageData(picture.rgba, picture.width, picture.height), 0, 0);
//
// Neither call throws, whatever it is given: what is wrong is in `error`, in
// pictool's words ("not a PIC file", "file ends inside the header", ...).
// docs/web.md tells the whole API.

/** Pictures of more pixels are refused unless decode is given a larger maxPixels. */
export const DEFAULT_MAX_PIXELS = 2 ** 28;

const wasmUrl = new URL('./picfile.wasm', import.meta.url);

async function wasmBytes() {
    if (wasmUrl.protocol === 'file:' && typeof process === 'object' && process.versions?.node) {
        const {readFile} = await import('node:fs/promises');
        return readFile(wasmUrl);
    }
    const response = await fetch(wasmUrl);
    if (!response.ok)
        throw new Error(`picfile.mjs: ${wasmUrl} answered ${response.status}`);
    return response.arrayBuffer();
}

const compiled = await WebAssembly.compile(await wasmBytes());

// The module asks for two things: to be told its memory grew (views on it
// are made afresh after every call) and to stop, which only a failed allocation
// asks, and which ends the call as an exception.
const imports = {
    env: {emscripten_notify_memory_growth() {}},
    wasi_snapshot_preview1: {
        proc_exit(code) {
            throw new WebAssembly.RuntimeError(`picfile.wasm stopped (${code})`);
        },
    },
};

function instantiate() {
    const instance = new WebAssembly.Instance(compiled, imports);
    instance.exports._initialize();
    return instance.exports;
}

// One instance serves every call, its memory kept warm from one picture to
// the next; a picture's pixels are copied out to a buffer of their own.
let wasm = null;

// Offsets of the WebPicture record (web/picfile_wasm.cpp).
const RECORD = {
    headerRead: 0, width: 4, height: 8, aspect: 12, alpha: 16, damaged: 20, damageRow: 24,
    offsetLow: 28, offsetHigh: 32, error: 36, damage: 40, reason: 44, packets: 48,
    comment: 52, rgba: 56,
};
const COMMENT_BYTES = 80;
const utf8 = new TextDecoder('utf-8', {fatal: true});

function bytesOf(data) {
    if (data instanceof Uint8Array)
        return data;
    if (data instanceof ArrayBuffer)
        return new Uint8Array(data);
    if (ArrayBuffer.isView(data))
        return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    return null;
}

function cString(memory, pointer) {
    let end = pointer;
    while (memory[end] !== 0)
        ++end;
    return String.fromCharCode(...memory.subarray(pointer, end));
}

// The comment's bytes up to the first zero: UTF-8 where they are, each
// other byte as the character of its value, as pictool's JSON gives them.
function commentText(bytes) {
    const end = bytes.indexOf(0);
    const text = bytes.subarray(0, end < 0 ? bytes.length : end);
    let out = '';
    for (let at = 0; at < text.length;) {
        const lead = text[at];
        const length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        try {
            if (length === 0 || at + length > text.length)
                throw new RangeError();
            out += utf8.decode(text.subarray(at, at + length));
            at += length;
        } catch {
            out += String.fromCharCode(lead);
            at += 1;
        }
    }
    return out;
}

function failure(error) {
    return {error, width: 0, height: 0, aspect: null, alpha: false, packets: '', comment: '',
            rgba: null, damage: null};
}

// Reads a record into a plain object, with a copy of the pixels when asked:
// into `into` when given, else into a buffer of their own.
function answer(pointer, withPixels, into) {
    const memory = new Uint8Array(wasm.memory.buffer);
    const view = new DataView(wasm.memory.buffer, pointer);
    const word = (offset) => view.getUint32(offset, true);
    const result = failure(cString(memory, word(RECORD.error)) || null);
    if (word(RECORD.headerRead) === 1) {
        result.width = word(RECORD.width);
        result.height = word(RECORD.height);
        result.aspect = view.getFloat32(RECORD.aspect, true);
        result.alpha = word(RECORD.alpha) === 1;
        result.packets = cString(memory, word(RECORD.packets));
        const comment = word(RECORD.comment);
        result.comment = commentText(memory.subarray(comment, comment + COMMENT_BYTES));
    }
    if (word(RECORD.damaged) === 1) {
        result.damage = {
            row: word(RECORD.damageRow),
            offset: word(RECORD.offsetHigh) * 2 ** 32 + word(RECORD.offsetLow),
            reason: cString(memory, word(RECORD.reason)),
            text: cString(memory, word(RECORD.damage)),
        };
    }
    const rgba = word(RECORD.rgba);
    if (withPixels && result.error === null && rgba !== 0) {
        const length = result.width * result.height * 4;
        const pixels = new Uint8ClampedArray(wasm.memory.buffer, rgba, length);
        if (into === undefined) {
            result.rgba = pixels.slice();
        } else if (into.length < length) {
            result.error = `into holds ${into.length} bytes; the picture needs ${length}`;
        } else {
            into.set(pixels);
            result.rgba = into.subarray(0, length);
        }
    }
    return result;
}

// Runs `read(pointer, size)` on a copy of the bytes in the module's memory.
function withBytes(data, withPixels, read, into) {
    const bytes = bytesOf(data);
    if (bytes === null)
        return failure('not PIC data: expected a Uint8Array, an ArrayBuffer or a typed array');
    if (into !== undefined && !(into instanceof Uint8ClampedArray))
        return failure('into must be a Uint8ClampedArray');
    let input = 0;
    let record = 0;
    try {
        wasm ??= instantiate();
        input = wasm.malloc(Math.max(bytes.length, 1));
        if (input === 0)
            return failure('out of memory');
        new Uint8Array(wasm.memory.buffer, input, bytes.length).set(bytes);
        record = read(input, bytes.length);
        return record === 0 ? failure('out of memory') : answer(record, withPixels, into);
    } catch (error) {
        if (!(error instanceof WebAssembly.RuntimeError) && !(error instanceof RangeError))
            return failure(`picfile.mjs: ${error}`);
        // The module stopped part-way, or could not be made, and may hold
        // memory it cannot give back: a fresh instance takes its place.
        wasm = null;
        input = record = 0;
        return failure('out of memory');
    } finally {
        if (record !== 0)
            wasm.pic_web_release(record);
        if (input !== 0)
            wasm.free(input);
    }
}

/**
 * The header's facts, the rows not read: {error, width, height, aspect,
 * alpha, packets, comment}, with rgba and damage null.
 */
export function info(data) {
    return withBytes(data, false, (pointer, size) => wasm.pic_web_info(pointer, size));
}

/**
 * The picture: {error, width, height, aspect, alpha, packets, comment, rgba,
 * damage}. rgba is width * height * 4 bytes, opaque where the file has no
 * alpha, on a buffer of its own, or the start of `into` when given (a
 * Uint8ClampedArray of at least that many bytes, reused from one picture to
 * the next, say for playing a sequence); damage is null, or {row, offset,
 * reason, text} for a damaged file, whose picture holds the rows pictool
 * keeps.
 */
export function decode(data, {maxPixels = DEFAULT_MAX_PIXELS, into = undefined} = {}) {
    const limit = maxPixels === Infinity ? 2 ** 64
        : Number.isFinite(maxPixels) && maxPixels >= 0 ? Math.floor(maxPixels) : DEFAULT_MAX_PIXELS;
    return withBytes(data, true, (pointer, size) => wasm.pic_web_decode(pointer, size, limit),
                     into);
}
