// A test-only navigator.serial with the Web Serial API's shape, put into the
// page before its own scripts run. Its ports carry their bytes over a
// WebSocket to the tests' bridge (bridge.mjs), and from there to kitsim on a
// pseudo-terminal. It raises the errors a real port raises: opening an open
// port (InvalidStateError), closing a port whose streams are locked
// (TypeError), a port another program holds (NetworkError on open), a lost
// device (NetworkError on read, then the disconnect event).
//
// Set up by window.fakeSerialSetup = { bridge: 'ws://…', ports: [{ usbVendorId,
// usbProductId, target, held }], choice: index of the port the chooser
// picks, or null for a cancelled chooser }. What the page did is in
// window.fakeSerial.log: { op: 'open', baudRate, dataBits, … }, { op: 'close' }, …
(() => {
  const setup = window.fakeSerialSetup;
  const log = [];
  const GrantedKey = 'fake-serial.granted'; // the ports the page was granted, kept like the browser's permissions
  const serial = new EventTarget();

  const networkError = (message) => new DOMException(message, 'NetworkError');
  const invalidState = (message) => new DOMException(message, 'InvalidStateError');

  class SerialPort extends EventTarget {
    #fixture;
    #state = 'closed';
    #socket = null;
    #readable = null;
    #writable = null;

    constructor(fixture) {
      super();
      this.#fixture = fixture;
    }

    getInfo() {
      const { usbVendorId, usbProductId } = this.#fixture;
      return usbVendorId === undefined ? {} : { usbVendorId, usbProductId };
    }
    get readable() {
      return this.#readable;
    }
    get writable() {
      return this.#writable;
    }

    async open(options) {
      if (this.#state !== 'closed') throw invalidState('The port is already open.');
      if (!(options?.baudRate > 0)) throw new TypeError('A baudRate greater than 0 is needed.');
      log.push({ op: 'open', ...options });
      if (this.#fixture.held) throw networkError('Failed to open serial port.');
      this.#state = 'opening';
      try {
        this.#socket = await connect(`${setup.bridge}/${this.#fixture.target}`);
      } catch {
        this.#state = 'closed';
        throw networkError('Failed to open serial port.');
      }
      this.#makeStreams(this.#socket);
      this.#state = 'opened';
    }

    async close() {
      if (this.#state !== 'opened') throw invalidState('The port is already closed.');
      if (this.#readable?.locked || this.#writable?.locked)
        throw new TypeError("Failed to execute 'close' on 'SerialPort': Cannot cancel a locked stream");
      this.#state = 'closing';
      await this.#readable?.cancel();
      await this.#writable?.close().catch(() => {});
      this.#socket.close();
      this.#readable = this.#writable = this.#socket = null;
      this.#state = 'closed';
      log.push({ op: 'close' });
    }

    async setSignals(signals) {
      if (this.#state !== 'opened') throw invalidState('The port is closed.');
      log.push({ op: 'signals', ...signals });
    }

    #makeStreams(socket) {
      let incoming;
      this.#readable = new ReadableStream({ start: (controller) => void (incoming = controller) });
      socket.onmessage = (event) => incoming.enqueue(new Uint8Array(event.data));
      this.#writable = new WritableStream({
        write: (chunk) => {
          if (socket.readyState !== WebSocket.OPEN) throw networkError('The device has been lost.');
          socket.send(chunk);
        },
      });
      socket.onclose = () => this.#state === 'opened' && this.#lost(incoming);
    }

    // The far end went away: reading fails, the port has no readable, and,
    // a little later as in Chromium, the disconnect event goes to the port
    // and on to navigator.serial.
    #lost(incoming) {
      incoming.error(networkError('The device has been lost.'));
      this.#readable = null;
      log.push({ op: 'lost' });
      setTimeout(() => {
        this.dispatchEvent(new Event('disconnect'));
        serial.dispatchEvent(new Event('disconnect'));
      });
    }
  }

  function connect(url) {
    return new Promise((opened, failed) => {
      const socket = new WebSocket(url);
      socket.binaryType = 'arraybuffer';
      socket.onopen = () => opened(socket);
      socket.onerror = failed;
    });
  }

  const ports = setup.ports.map((fixture) => new SerialPort(fixture));
  const granted = () => JSON.parse(localStorage.getItem(GrantedKey) ?? '[]');

  serial.requestPort = async () => {
    if (!navigator.userActivation.isActive)
      throw new DOMException('Must be handling a user gesture to show a permission request.', 'SecurityError');
    if (setup.choice === null) throw new DOMException('No port selected by the user.', 'NotFoundError');
    localStorage.setItem(GrantedKey, JSON.stringify([...new Set([...granted(), setup.choice])]));
    return ports[setup.choice];
  };
  serial.getPorts = async () => granted().map((index) => ports[index]);

  Object.defineProperty(navigator, 'serial', { value: serial, configurable: true });
  window.fakeSerial = { log };
})();
