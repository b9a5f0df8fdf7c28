// Takes a screenshot of the viewer page showing PIC files in headless
// Chromium: the page as a person sees it after opening them.
//   usage: node web/tests/screenshot.mjs OUT.png FILE.pic...
// (scripts/screenshots.sh runs it with the environment of the web tests.)
import {launch, openSite} from './browser.mjs';

const [out, ...files] = process.argv.slice(2);
const browser = await launch();
try {
    const {page} = await openSite(browser, {width: 720, height: 900});
    await page.setInputFiles('#open', files);
    await page.waitForSelector(`body[data-opened="${files.length}"]`);
    await page.screenshot({path: out, fullPage: true});
} finally {
    await browser.close();
}
