// The kit's line over Web Serial. The port is opened afresh for every
// exchange, at the chosen speed with 8 data bits, no parity, 1 stop bit and
// no flow control; each opening has one reader loop and one writer. Opening
// and closing are promises, which the core cannot wait for: the page opens
// the port before an exchange starts, and the exchange only checks it
// (failure()). Openings and closings run one after the other.

const LineOptions = { dataBits: 8, parity: 'none', stopBits: 1, flowControl: 'none' };

// Errors after which the port gives a new readable stream and reading goes on.
const PassingReadErrors = new Set(['BufferOverrunError', 'BreakError', 'FramingError', 'ParityError']);

const hex4 = (id) => id.toString(16).toUpperCase().padStart(4, '0');

// The adapter as the page names it: its USB ids, which the browser shows too.
export function portName(info) {
  if (info?.usbVendorId === undefined) return 'serial port';
  return `USB ${hex4(info.usbVendorId)}:${hex4(info.usbProductId)}`;
}

const sameIds = (info, ids) => info.usbVendorId === ids.usbVendorId && info.usbProductId === ids.usbProductId;

function openFailureText(name, error) {
  return `${name}: the port could not be opened (${error.name}: ${error.message}). ` +
    'Is another program using it: a terminal program, this page in another tab or window, ModemManager? ' +
    'On Linux, may you use serial ports (the group dialout)? On Windows, is the adapter\'s driver installed?';
}

export class SerialLine {
  onBytes = () => {};
  onLost = () => {};
  #serial;
  #port = null;
  #session = null; // the opening in use: its port, reader loop and writer
  #openFailure = '';
  #queue = Promise.resolve();

  constructor(serial) {
    this.#serial = serial;
  }

  get available() {
    return Boolean(this.#serial);
  }
  get chosen() {
    return this.#port !== null;
  }
  get name() {
    return portName(this.#port?.getInfo());
  }
  get ids() {
    const { usbVendorId, usbProductId } = this.#port.getInfo();
    return { usbVendorId, usbProductId };
  }

  // The browser's chooser (it needs the user's click); false when cancelled.
  async choose() {
    try {
      this.#take(await this.#serial.requestPort());
      return true;
    } catch (error) {
      if (error.name === 'NotFoundError') return false;
      throw error;
    }
  }

  // A port granted on an earlier visit with the same USB ids, if the browser still has it.
  async takeBack(ids) {
    if (!ids || !this.#serial) return false;
    const granted = await this.#serial.getPorts().catch(() => []);
    const port = granted.find((p) => sameIds(p.getInfo(), ids));
    if (port) this.#take(port);
    return Boolean(port);
  }

  // Closes the port if it is open and opens it at baudRate.
  open(baudRate) {
    return this.#enqueue(async () => {
      await this.#closeSession();
      const port = this.#port;
      try {
        await port.open({ baudRate, ...LineOptions });
      } catch (error) {
        this.#openFailure = openFailureText(portName(port.getInfo()), error);
        return;
      }
      this.#openFailure = '';
      this.#session = this.#startSession(port);
    });
  }

  close() {
    return this.#enqueue(() => this.#closeSession());
  }

  // Why the line cannot be used; undefined while it can.
  failure() {
    const session = this.#session;
    if (session) return session.lost || undefined;
    return this.#openFailure || `${this.name}: the port is not open`;
  }

  // Queues the bytes (the page's own copy) and returns at once; a failed write loses the line.
  write(bytes) {
    const session = this.#session;
    if (!session || session.lost) return this.failure();
    session.writer.write(bytes).catch((error) => this.#lose(session, error));
  }

  #take(port) {
    if (port === this.#port) return;
    this.close();
    this.#port = port;
  }

  #enqueue(step) {
    const done = this.#queue.then(step);
    this.#queue = done.catch(() => {});
    return done;
  }

  #startSession(port) {
    const session = { port, name: portName(port.getInfo()), writer: port.writable.getWriter(), reader: null };
    session.lost = '';
    session.closing = false;
    session.unplugged = () => this.#lose(session, { message: 'the device went away (unplugged?)' });
    port.addEventListener('disconnect', session.unplugged);
    session.reading = this.#readLoop(session);
    return session;
  }

  async #readLoop(session) {
    const { port } = session;
    while (port.readable && !session.closing && !session.lost) {
      session.reader = port.readable.getReader();
      try {
        await this.#readUntilDone(session);
        return;
      } catch (error) {
        if (!PassingReadErrors.has(error.name)) return this.#lose(session, error);
      } finally {
        session.reader.releaseLock();
      }
    }
    this.#lose(session, { message: 'the port stopped reading' });
  }

  async #readUntilDone(session) {
    for (;;) {
      const { value, done } = await session.reader.read();
      if (done) return;
      if (session === this.#session && !session.lost) this.onBytes(value);
    }
  }

  // The first loss of an opening counts; a closing is none.
  #lose(session, error) {
    if (session.lost || session.closing) return;
    session.lost = `${session.name}: ${error.message}` + (error.name ? ` (${error.name})` : '');
    this.onLost(session.lost);
  }

  // Cancels the reader, releases both locks, then closes.
  async #closeSession() {
    const session = this.#session;
    if (!session) return;
    this.#session = null;
    session.closing = true;
    session.port.removeEventListener('disconnect', session.unplugged);
    await session.reader?.cancel().catch(() => {});
    await session.reading;
    session.writer.releaseLock();
    await session.port.close().catch(() => {});
  }
}
