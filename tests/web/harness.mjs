// What the page's tests and benchmark share: the built site served on
// 127.0.0.1, Debian's Chromium headless, pages with the test-only Web Serial,
// and HEX files made to measure.
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { chromium } from 'playwright-core';
import { serveSite } from '../../scripts/serve-site.mjs';

// Flags that work on a machine without a display, a sandbox or a network.
const ChromiumFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export const shotsFolder = join(process.env.WEB_BUILD, 'test-shots');

// The site and a browser; launch() gives Chromium a fresh user-data-dir of
// its own, removed when it closes. close() ends both.
export async function startSiteAndBrowser() {
  const { server, url } = await serveSite(process.env.SITE);
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ChromiumFlags });
  mkdirSync(shotsFolder, { recursive: true });
  return {
    url,
    browser,
    close: async () => {
      await browser.close();
      server.close();
    },
  };
}

// A page in a context of its own (its own storage), with the test-only Web
// Serial set up as fake-serial.js says; errors of the page fail the test.
export async function openPage(browser, url, serialSetup) {
  const context = await browser.newContext({ viewport: { width: 600, height: 560 } });
  if (serialSetup) {
    await context.addInitScript((setup) => (window.fakeSerialSetup = setup), serialSetup);
    await context.addInitScript({ path: new URL('fake-serial.js', import.meta.url).pathname });
  }
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error));
  await visit(page, url);
  return { page, context, errors };
}

// Loads the page and waits until its texts are in (the core has started).
export async function visit(page, url) {
  await page.goto(url);
  await page.waitForFunction(() => document.querySelector('#close').textContent !== '');
}

// Intel HEX text of words (address, value), eight words to a record, low byte
// first, as a compiler writes them.
export function hexFile(words) {
  const lines = [];
  for (let i = 0; i < words.length; ) {
    const run = [words[i++]];
    while (i < words.length && run.length < 8 && words[i].address === run.at(-1).address + 1) run.push(words[i++]);
    lines.push(record(run[0].address * 2, run.flatMap(({ value }) => [value & 0xff, value >> 8])));
  }
  return lines.join('\r\n') + '\r\n:00000001FF\r\n';
}

function record(byteAddress, data) {
  const bytes = [data.length, byteAddress >> 8, byteAddress & 0xff, 0, ...data];
  const sum = bytes.reduce((a, b) => a + b, 0);
  bytes.push((0x100 - (sum & 0xff)) & 0xff);
  return ':' + bytes.map((b) => b.toString(16).toUpperCase().padStart(2, '0')).join('');
}

// Every word the kit accepts: 0x0000-0x1EFF and 0x1FE0-0x1FFE, 7,967 words.
export function wholeWriteWindow() {
  const words = [];
  const add = (first, last) => {
    for (let address = first; address <= last; address++) words.push({ address, value: (address * 0x9e37 + 0x5a) & 0xffff });
  };
  add(0x0000, 0x1eff);
  add(0x1fe0, 0x1ffe);
  return words;
}

// The frames kitsim logs for words, in order.
export const framesOf = (words) =>
  words.map(({ address, value }) => `A ${hex4(address)} ${hex4(value)}`);

const hex4 = (n) => n.toString(16).toUpperCase().padStart(4, '0');

// A file for the page's file box.
export const fileFor = (name, text) => ({ name, mimeType: 'application/octet-stream', buffer: Buffer.from(text) });
