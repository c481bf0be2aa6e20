// Renders docs/web-page.png (scripts/web.sh --screenshot): the page with the
// simulated kit after a whole update of samples/blink.hex, its message box
// answered.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileFor, openPage, startSiteAndBrowser } from './harness.mjs';

const picture = join(process.env.ROOT, 'docs/web-page.png');
const site = await startSiteAndBrowser();
try {
  const { page } = await openPage(site.browser, `${site.url}?kit=simulated`);
  await page.setViewportSize({ width: 580, height: 490 });
  await page.setInputFiles('#file', fileFor('blink.hex', readFileSync(join(process.env.ROOT, 'samples/blink.hex'))));
  await page.click('#update');
  await page.click('#message-ok');
  await page.screenshot({ path: picture });
  console.log(`Wrote ${picture}`);
} finally {
  await site.close();
}
