// Times the page and prints the figures (scripts/web.sh --bench):
//  1. the page's own cost per word: the simulated kit in the page answers at
//     once, so the whole time is the page's (its JavaScript, the core as
//     WebAssembly, the browser's event loop);
//  2. a whole update through the test-only Web Serial and the WebSocket
//     bridge to kitsim, for comparison;
//  3. a kit behind an adapter whose latency timer holds each answer 16 ms
//     (an FTDI chip's default, which a page cannot lower): 200 words, and
//     what that makes of a whole file.
// The file is the whole write window, 7,967 words, all of them sent.
import { startBridge } from './bridge.mjs';
import { fileFor, hexFile, openPage, startSiteAndBrowser, wholeWriteWindow } from './harness.mjs';
import { startKitsim } from './kitsim.mjs';

const Runs = Number(process.argv[2] ?? 3);
const Adapter = { usbVendorId: 0x0403, usbProductId: 0x6001, target: 'kit' };
const words = wholeWriteWindow();
const wholeFile = hexFile(words);

// Runs one update; times it from the status "updating" (the file is checked
// from there) to the exchange's conclusion, in the page's own clock.
async function timedUpdate(page, text, words) {
  await page.setInputFiles('#file', fileFor('bench.hex', text));
  const timing = page.evaluate(() => new Promise((done) => {
    const status = document.querySelector('#status');
    let started = 0;
    new MutationObserver(() => {
      if (!started && status.textContent.startsWith('アップデート中')) started = performance.now();
    }).observe(status, { childList: true, characterData: true, subtree: true });
    document.addEventListener('exchange-concluded', ({ detail }) =>
      done({ ms: performance.now() - started, seconds: detail.seconds, sent: detail.wordsSent }), { once: true });
  }));
  await page.click('#update');
  const result = await timing;
  if (result.sent !== words) throw new Error(`only ${result.sent} of ${words} words were sent`);
  await page.click('#message-ok');
  return result;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const us = (ms) => `${(ms * 1000).toFixed(1)} µs`;

async function inPage(site) {
  const perWord = [];
  for (let run = 0; run < Runs; run++) {
    const { page, context } = await openPage(site.browser, `${site.url}?kit=simulated`);
    perWord.push((await timedUpdate(page, wholeFile, words.length)).ms / words.length);
    await context.close();
  }
  console.log(`simulated kit in the page: ${us(median(perWord))} per word ` +
    `(runs: ${perWord.map(us).join(', ')}); the page's own cost, at most 100 µs wanted`);
}

async function throughKitsim(site, bridge, kitOptions, text, count) {
  const kit = await startKitsim(kitOptions);
  bridge.connect(Adapter.target, kit.device);
  const { page, context } = await openPage(site.browser, site.url, { bridge: bridge.url, ports: [Adapter], choice: 0 });
  await page.click('#port');
  const result = await timedUpdate(page, text, count);
  await context.close();
  await kit.stop();
  return result;
}

const site = await startSiteAndBrowser();
const bridge = await startBridge();
try {
  console.log(`${words.length} words, ${Runs} runs each, medians`);
  await inPage(site);

  const whole = [];
  for (let run = 0; run < Runs; run++) whole.push(await throughKitsim(site, bridge, [], wholeFile, words.length));
  const ms = median(whole.map((r) => r.ms));
  console.log(`through the WebSocket bridge to kitsim: ${(ms / 1000).toFixed(2)} s for the whole file, ` +
    `${us(ms / words.length)} per word; the whole exchange with the handshake ${median(whole.map((r) => r.seconds)).toFixed(2)} s`);

  const few = words.slice(0, 200);
  const slow = await throughKitsim(site, bridge, ['--delay-us', '16000'], hexFile(few), few.length);
  const perWordMs = slow.ms / few.length;
  console.log(`each answer held 16 ms (an adapter's latency timer): ${perWordMs.toFixed(2)} ms per word over ` +
    `${few.length} words, so ${((perWordMs * words.length) / 1000 / 60).toFixed(1)} minutes for the whole file ` +
    `(16 ms alone: ${((16 * words.length) / 1000 / 60).toFixed(1)})`);
} finally {
  await bridge.close();
  await site.close();
}
