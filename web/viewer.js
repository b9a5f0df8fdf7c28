// The PIC viewer page: open or drop PIC files, see each picture on a
// checkerboard with its facts and whether it is whole, at 1:1 or fitted,
// and save it as PNG. Everything happens in the page.
import {decode} from './picfile.mjs';
import {encodePng} from './png.mjs';

const pictures = document.querySelector('#pictures');
const input = document.querySelector('#open');

input.addEventListener('change', () => {
    openFiles([...input.files]);
    input.value = '';
});
document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dropping');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dropping');
    openFiles([...event.dataTransfer.files]);
});
for (const button of document.querySelectorAll('[data-zoom]')) {
    button.addEventListener('click', () => {
        pictures.classList.toggle('fit', button.dataset.zoom === 'fit');
        for (const other of document.querySelectorAll('[data-zoom]'))
            other.setAttribute('aria-pressed', String(other === button));
        zoom();
    });
}
window.addEventListener('resize', zoom);

// Fit: each picture as large as its card's width and three quarters of the
// window's height allow, larger or smaller; 1:1: one pixel to one pixel.
function zoom() {
    const fit = pictures.classList.contains('fit');
    for (const canvas of pictures.querySelectorAll('canvas')) {
        const scale = Math.min(canvas.parentElement.clientWidth / canvas.width,
                               window.innerHeight * 0.75 / canvas.height);
        canvas.style.width = fit ? `${canvas.width * scale}px` : '';
        canvas.style.height = fit ? `${canvas.height * scale}px` : '';
    }
}

async function openFiles(files) {
    for (const file of files)
        pictures.append(await card(file.name, new Uint8Array(await file.arrayBuffer())));
    zoom();
    document.body.dataset.opened = String(pictures.children.length);
}

function element(tag, className, text) {
    const made = document.createElement(tag);
    if (className)
        made.className = className;
    if (text !== undefined)
        made.textContent = text;
    return made;
}

function facts(picture) {
    const list = element('dl');
    const rows = [
        ['size', `${picture.width} × ${picture.height}`],
        ['aspect', String(Math.round(picture.aspect * 1e6) / 1e6)],
        ['alpha', picture.alpha ? 'yes' : 'no'],
        ['compression', picture.packets],
        ['comment', picture.comment || '(none)'],
    ];
    for (const [name, value] of rows)
        list.append(element('dt', '', name), element('dd', name, value));
    return list;
}

function saveButton(picture, name) {
    const button = element('button', 'save', 'Save PNG');
    button.type = 'button';
    button.addEventListener('click', async () => {
        const png = await encodePng(picture.rgba, picture.width, picture.height, picture.alpha);
        const link = element('a');
        link.href = URL.createObjectURL(png);
        link.download = name.replace(/\.pic$/i, '') + '.png';
        link.click();
        setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    });
    return button;
}

async function card(name, bytes) {
    const figure = element('figure');
    figure.append(element('figcaption', '', name));
    const picture = decode(bytes);
    if (picture.error !== null) {
        figure.append(element('p', 'status refused', `not shown: ${picture.error}`));
        return figure;
    }
    const canvas = element('canvas');
    canvas.width = picture.width;
    canvas.height = picture.height;
    const image = new ImageData(picture.rgba, picture.width, picture.height);
    canvas.getContext('2d').putImageData(image, 0, 0);
    const frame = element('div', 'frame');
    frame.append(canvas);
    const status = picture.damage === null
        ? element('p', 'status whole', 'whole')
        : element('p', 'status damaged', `damaged: ${picture.damage.text}`);
    figure.append(frame, status, facts(picture), saveButton(picture, name));
    return figure;
}
