// The speed and the port the user picked, kept by the browser for the next
// visit and written the moment they are picked. A browser that keeps nothing
// (storage off, private mode) still lets the page work.
const SpeedKey = 'kitupdater.speed';
const PortKey = 'kitupdater.port';

export class Settings {
  #storage;

  constructor(storage) {
    this.#storage = storage;
  }

  get speed() {
    return this.#read(SpeedKey);
  }
  set speed(baudRate) {
    this.#write(SpeedKey, String(baudRate));
  }

  // The chosen adapter's USB ids, { usbVendorId, usbProductId }; null when none.
  get port() {
    try {
      return JSON.parse(this.#read(PortKey) ?? 'null');
    } catch {
      return null;
    }
  }
  set port(ids) {
    this.#write(PortKey, JSON.stringify(ids));
  }

  #read(key) {
    try {
      return this.#storage?.getItem(key) ?? null;
    } catch {
      return null;
    }
  }
  #write(key, value) {
    try {
      this.#storage?.setItem(key, value);
    } catch {
      // Nothing is remembered; the choice holds for this visit.
    }
  }
}
