// The updater page in headless Chromium, used as a teacher uses it: through
// the test-only Web Serial (fake-serial.js) and a WebSocket bridge to kitsim
// on a pseudo-terminal, and with the simulated kit in the page. Everything
// above navigator.serial is the real page: its HTML, its JavaScript and the
// core as WebAssembly.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { startBridge } from './bridge.mjs';
import { fileFor, framesOf, hexFile, openPage, shotsFolder, startSiteAndBrowser, visit, wholeWriteWindow } from './harness.mjs';
import { startKitsim } from './kitsim.mjs';

// What the user must see, written out as the kit's users know it.
const SetPortNumber = 'ポート番号を設定してください。';
const PortOpenFailed = '通信ポートをオープンできませんでした。';
const VersionRead = 'ファームウエアバージョンをリードしました。';
const UpdateFailed = '***\u3000アップデート失敗\u3000***';
const UpdateDone = '\u3000\u3000\u3000 ファームウエアアップデートが完了しました。    \u3000\u3000\u3000\u3000\u3000\u3000\u3000\r\n' +
  '\u3000\u3000\u3000 キットの電源を再投入してください。\u3000\u3000\u3000\u3000\u3000\u3000\u3000';
const UpdateTimedOut = '\u3000\u3000\u3000***\u3000アップデート失敗\u3000***\u3000\u3000\u3000\u3000\u3000\u3000\r\n\u3000';

const Adapter = { usbVendorId: 0x0403, usbProductId: 0x6001, target: 'kit' };
const blinkHex = readFileSync(join(process.env.ROOT, 'samples/blink.hex'), 'latin1');
const BlinkFrames = 66; // words of blink.hex in the kit's write window

let site;
let bridge;
before(async () => {
  site = await startSiteAndBrowser();
  bridge = await startBridge();
});
after(async () => {
  await bridge.close();
  await site.close();
});

// kitsim started with kitOptions, and a page whose port chooser picks the
// adapter joined to it, chosen with a click; both end with the test.
async function withKit(kitOptions, adapter, run) {
  const kit = await startKitsim(kitOptions);
  bridge.connect(adapter.target, kit.device);
  const { page, context, errors } = await openPage(site.browser, site.url, { bridge: bridge.url, ports: [adapter], choice: 0 });
  try {
    await page.click('#port');
    await page.waitForFunction(() => document.querySelector('#port').textContent !== '?');
    await run({ page, kit });
    assert.deepEqual(errors, []);
  } finally {
    await context.close();
    await kit.stop();
  }
}

// What the page shows; message is the open message box's text, null when none is open.
const shown = (page) =>
  page.evaluate(() => {
    const $ = (selector) => document.querySelector(selector);
    return {
      port: $('#port').textContent,
      status: $('#status').textContent,
      detail: $('#detail').textContent,
      version: $('#version').value,
      fileName: $('#file-name').value,
      progress: [$('#progress').value, $('#progress').max],
      message: $('#message').open ? $('#message-text').textContent : null,
    };
  });

// Resolves when the next exchange to end has ended.
const exchangeEnd = (page) =>
  page.evaluate(() => new Promise((done) => document.addEventListener('exchange-finished', done, { once: true })));

async function clickAndWaitForTheEnd(page, selector) {
  const ended = exchangeEnd(page);
  await page.click(selector);
  await ended;
}

async function chooseFile(page, name, text) {
  await page.setInputFiles('#file', fileFor(name, text));
}

const serialLog = (page) => page.evaluate(() => window.fakeSerial.log);

// A page that never ends its exchange fails its test rather than hanging the run.
const Limit = { timeout: 60_000 };

test('Version Read: the chosen port at the chosen speed, 8N1, no flow control; one exchange however often it is clicked; the choices back on the next visit', Limit, async () => {
  await withKit([], Adapter, async ({ page, kit }) => {
    await page.selectOption('#speed', '19200');
    const ended = exchangeEnd(page);
    await page.click('#version-read');
    await page.click('#version-read');
    await ended;
    assert.deepEqual(await shown(page), {
      port: 'USB 0403:6001', status: VersionRead, detail: '', version: 'KIT-FW Ver1.00  ', fileName: '',
      progress: [0, 1], message: null,
    });
    assert.deepEqual(kit.received(), ['F', '?']);
    assert.deepEqual(await serialLog(page), [
      { op: 'open', baudRate: 19200, dataBits: 8, parity: 'none', stopBits: 1, flowControl: 'none' },
    ]);

    await visit(page, site.url);
    assert.equal((await shown(page)).port, 'USB 0403:6001');
    assert.equal(await page.inputValue('#speed'), '19200');
  });
});

test('UPDATE writes the whole write window, word for word and in order, and the bar ends full', Limit, async () => {
  await withKit([], Adapter, async ({ page, kit }) => {
    const words = wholeWriteWindow();
    await chooseFile(page, 'whole.hex', hexFile(words));
    await clickAndWaitForTheEnd(page, '#update');
    const { status, ...rest } = await shown(page);
    assert.match(status, /^アップデート完了。 {2}\d+sec$/);
    assert.deepEqual(rest, {
      port: 'USB 0403:6001', detail: '', version: 'KIT-FW Ver1.00  ', fileName: 'whole.hex',
      progress: [7967, 7967], message: UpdateDone,
    });
    assert.deepEqual(kit.received(), ['F', '?', ...framesOf(words)]);
    assert.equal((await serialLog(page)).filter(({ op }) => op === 'open').length, 1);
  });
});

test('a kit that stops answering: after 2 s the time-out texts; leaving the page meanwhile asks first', Limit, async () => {
  await withKit(['--silent-after', '3'], Adapter, async ({ page, kit }) => {
    await chooseFile(page, 'blink.hex', blinkHex);
    const asked = new Promise((done) => page.once('dialog', (dialog) => done(dialog.type()) || dialog.dismiss()));
    const ended = exchangeEnd(page);
    await page.click('#update');
    await page.close({ runBeforeUnload: true });
    assert.equal(await asked, 'beforeunload');
    await ended;
    assert.deepEqual(await shown(page), {
      port: 'USB 0403:6001', status: UpdateFailed,
      detail: 'USB 0403:6001: word 0x0003 got no answer within 2 s; 3 of 66 words were written before it',
      version: 'KIT-FW Ver1.00  ', fileName: 'blink.hex', progress: [0, BlinkFrames], message: UpdateTimedOut,
    });
    assert.equal(kit.received().length, 2 + 4);
  });
});

test('a port lost in the middle of an update ends it at once with the failure texts, and is closed', Limit, async () => {
  await withKit(['--hangup-after', '10'], Adapter, async ({ page }) => {
    await chooseFile(page, 'blink.hex', blinkHex);
    await clickAndWaitForTheEnd(page, '#update');
    assert.deepEqual(await shown(page), {
      port: 'USB 0403:6001', status: UpdateFailed,
      detail: 'USB 0403:6001: The device has been lost. (NetworkError) at word 0x0009; 9 of 66 words were written before it',
      version: 'KIT-FW Ver1.00  ', fileName: 'blink.hex', progress: [9, BlinkFrames], message: null,
    });
    await page.waitForFunction(() => window.fakeSerial.log.at(-1).op === 'close');
    assert.deepEqual((await serialLog(page)).map(({ op }) => op), ['open', 'lost', 'close']);
  });
});

test('a bad file is refused whole: no frame reaches the kit', Limit, async () => {
  const badChecksum = blinkHex.replace(':1000100003300430053006300730083009300A302C', ':1000100003300430053006300730083009300A302D');
  const rows = [
    { name: 'checksum.hex', text: badChecksum, detail: 'line 3: checksum 0x2D is wrong, 0x2C expected' },
    { name: 'big.hex', text: ' '.repeat(16 * 1024 * 1024 + 1), detail: '"big.hex" is too large: 16777217 bytes, at most 16777216 are read' },
  ];
  await withKit([], Adapter, async ({ page, kit }) => {
    for (const { name, text, detail } of rows) {
      await chooseFile(page, name, text);
      await clickAndWaitForTheEnd(page, '#update');
      const seen = await shown(page);
      assert.deepEqual([seen.status, seen.detail, seen.message], [UpdateFailed, detail, null], name);
    }
    assert.deepEqual(kit.received(), ['F', '?', 'F', '?']);
  });
});

test('a port another program holds: the open failure, with the likely causes', Limit, async () => {
  await withKit([], { ...Adapter, held: true }, async ({ page, kit }) => {
    await clickAndWaitForTheEnd(page, '#version-read');
    const { status, detail } = await shown(page);
    assert.equal(status, PortOpenFailed);
    assert.match(detail, /^USB 0403:6001: the port could not be opened \(NetworkError: Failed to open serial port\.\)/);
    for (const cause of [/another program/, /another tab/, /dialout/, /Windows.*driver/]) assert.match(detail, cause);
    assert.deepEqual(kit.received(), []);
  });
});

test('without a port: the port message box for Version Read and OPEN, nothing for a cancelled chooser, UPDATE waits for a file', Limit, async () => {
  const { page, context, errors } = await openPage(site.browser, site.url, { bridge: bridge.url, ports: [Adapter], choice: null });
  assert.equal(await page.isDisabled('#update'), true);
  for (const button of ['#version-read', '#open']) {
    await page.click(button);
    assert.equal((await shown(page)).message, SetPortNumber, button);
    await page.click('#message-ok');
    assert.equal((await shown(page)).message, null, button);
  }
  await page.click('#port');
  assert.deepEqual(await shown(page), {
    port: '?', status: '', detail: '', version: '', fileName: '', progress: [0, 1], message: null,
  });
  assert.deepEqual(errors, []);
  await context.close();
});

test('the simulated kit in the page: version, a file dropped on the page, a whole update', Limit, async () => {
  const { page, context, errors } = await openPage(site.browser, `${site.url}?kit=simulated`);
  await clickAndWaitForTheEnd(page, '#version-read');
  assert.equal((await shown(page)).version, 'KIT-FW Ver1.00  ');

  await page.evaluate((text) => {
    const files = new DataTransfer();
    files.items.add(new File([text], 'blink.hex'));
    document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: files, bubbles: true, cancelable: true }));
  }, blinkHex);
  const chosen = await shown(page);
  assert.deepEqual([chosen.status, chosen.fileName, await page.isEnabled('#update')],
    ['ファイル名：blink.hexを指定しました。', 'blink.hex', true]);

  await clickAndWaitForTheEnd(page, '#update');
  assert.deepEqual(await shown(page), {
    port: 'simulated kit', status: 'アップデート完了。  0sec', detail: '', version: 'KIT-FW Ver1.00  ',
    fileName: 'blink.hex', progress: [BlinkFrames, BlinkFrames], message: UpdateDone,
  });
  await page.screenshot({ path: join(shotsFolder, 'simulated-update.png') });
  assert.deepEqual(errors, []);
  await context.close();
});
