// Headless Chromium (Debian's /usr/bin/chromium, driven by playwright-core
// from web/package-lock.json) showing the site folder of the web build under
// http://localhost: every request to it is answered from the folder, with no
// server, and every other request is refused and recorded.
//   PIC_NODE_MODULES  the folder where `npm ci` put playwright-core
import {createRequire} from 'node:module';
import {join} from 'node:path';

import {SITE, SOURCE} from './corpus.mjs';

const modules = process.env.PIC_NODE_MODULES ?? join(SOURCE, 'build', 'web', 'web', 'npm');
const {chromium} = createRequire(join(modules, 'package.json'))('playwright-core');

export const ORIGIN = 'http://localhost'; // a secure context, as an https site is
const TYPES = {html: 'text/html', mjs: 'text/javascript', js: 'text/javascript',
               css: 'text/css', wasm: 'application/wasm'};

export function launch() {
    return chromium.launch({
        executablePath: process.env.PIC_CHROMIUM ?? '/usr/bin/chromium',
        chromiumSandbox: false, // as root
        args: ['--disable-gpu', '--disable-background-networking', '--disable-component-update',
               '--disable-sync', '--no-first-run', '--disable-quic'],
    });
}

/** A page of the site, and the list of requests that went elsewhere. */
export async function openSite(browser, viewport = {width: 1024, height: 768}) {
    const page = await browser.newPage({viewport, acceptDownloads: true});
    const elsewhere = [];
    await page.route('**/*', (route) => {
        const url = new URL(route.request().url());
        if (url.origin !== ORIGIN) {
            elsewhere.push(url.href);
            return route.abort();
        }
        const extension = url.pathname.split('.').pop();
        return route.fulfill({path: join(SITE, url.pathname),
                              contentType: TYPES[extension] ?? 'application/octet-stream'});
    });
    await page.goto(`${ORIGIN}/index.html`);
    return {page, elsewhere};
}
