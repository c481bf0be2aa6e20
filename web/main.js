// The updater page: the core (WebAssembly), the page, and the line, a serial
// port through Web Serial, or the core's simulated kit with ?kit=simulated.
import createKitCore from './kitcore.js';
import { Page } from './page.js';
import { Settings } from './settings.js';
import { SerialLine } from './serial-line.js';
import { SimulatedLine } from './simulated-line.js';
import { Updater } from './updater.js';

const core = await createKitCore();
const page = new Page(document, core);
const simulated = new URLSearchParams(location.search).get('kit') === 'simulated';
const line = simulated ? new SimulatedLine(core) : new SerialLine(navigator.serial);

if (simulated) page.showNote('simulated-kit');
else page.showNote(line.available ? 'real-kit' : 'no-serial');

// A browser that blocks storage throws on the mere look at it.
function browserStorage() {
  try {
    return localStorage;
  } catch {
    return null;
  }
}

await new Updater({ core, page, line, settings: new Settings(browserStorage()) }).start();
