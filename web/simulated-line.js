// The core's simulated kit in place of a serial port, for a visitor without
// a kit: it answers each command and frame at once, as kitsim does.
import { soon } from './soon.js';

export class SimulatedLine {
  onBytes = () => {};
  onLost = () => {};
  #kit;
  #opening = 0; // counts openings and closings: answers of an older one are dropped
  #open = false;

  constructor(core) {
    this.#kit = new core.SimulatedKit();
  }

  get available() {
    return true;
  }
  get chosen() {
    return true;
  }
  get name() {
    return 'simulated kit';
  }

  async open() {
    this.#opening++;
    this.#open = true;
    this.#kit.lineStarted();
  }

  async close() {
    this.#opening++;
    this.#open = false;
  }

  failure() {
    return this.#open ? undefined : `${this.name}: the port is not open`;
  }

  write(bytes) {
    if (!this.#open) return this.failure();
    let afterMs = 0;
    for (const step of this.#kit.receive(bytes)) {
      afterMs += step.delayUs / 1000;
      if (step.bytes.length > 0) this.#answer(step.bytes, afterMs);
    }
  }

  #answer(bytes, afterMs) {
    const opening = this.#opening;
    const give = () => opening === this.#opening && this.onBytes(bytes);
    if (afterMs > 0) setTimeout(give, afterMs);
    else soon(give);
  }
}
