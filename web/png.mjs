// PNG files of 8-bit RGB or RGBA pixels, exactly: a canvas's own PNG goes
// through premultiplied alpha and changes translucent colours. The rows are
// compressed by the browser's own zlib (CompressionStream).

const crcTable = Array.from({length: 256}, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k)
        c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
});

function crc32(bytes) {
    let crc = 0xFFFFFFFF;
    for (const byte of bytes)
        crc = crcTable[(crc ^ byte) & 0xFF] ^ (crc >>> 8);
    return (crc ^ 0xFFFFFFFF) >>> 0;
}

//   length (4) | type (4) | data | CRC of type and data (4), big-endian
function chunk(type, data) {
    const out = new Uint8Array(12 + data.length);
    const view = new DataView(out.buffer);
    view.setUint32(0, data.length);
    out.set(new TextEncoder().encode(type), 4);
    out.set(data, 8);
    view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
    return out;
}

/** A PNG Blob of `rgba` (width * height * 4 bytes): RGBA, or RGB when not `alpha`. */
export async function encodePng(rgba, width, height, alpha) {
    const channels = alpha ? 4 : 3;
    const rowBytes = width * channels + 1; // a filter byte (0, none) before each row
    const rows = new Uint8Array(rowBytes * height);
    for (let y = 0, at = 0; y < height; ++y) {
        ++at;
        for (let x = 0; x < width; ++x) {
            const pixel = (y * width + x) * 4;
            for (let c = 0; c < channels; ++c)
                rows[at++] = rgba[pixel + c];
        }
    }
    const compressed = new Response(new Blob([rows]).stream()
        .pipeThrough(new CompressionStream('deflate')));
    const header = new Uint8Array(13);
    const view = new DataView(header.buffer);
    view.setUint32(0, width);
    view.setUint32(4, height);
    header.set([8, alpha ? 6 : 2, 0, 0, 0], 8); // depth, colour type, deflate, filters, no interlace
    const signature = new Uint8Array([0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]);
    const data = new Uint8Array(await compressed.arrayBuffer());
    return new Blob([signature, chunk('IHDR', header), chunk('IDAT', data),
                     chunk('IEND', new Uint8Array(0))], {type: 'image/png'});
}
