// The window's rules on the page: what each button does, what an exchange
// needs before it starts, and the exchange itself, the core's, driven by the
// line (a serial port or the simulated kit), one timer and the page.
import { ExchangeTimer } from './timer.js';

export class Updater {
  #core;
  #page;
  #line;
  #settings;
  #exchange;
  #timer = new ExchangeTimer();
  #file = null;
  #starting = false; // from a click until the exchange runs: the port opens, the file is read

  constructor({ core, page, line, settings }) {
    this.#core = core;
    this.#page = page;
    this.#line = line;
    this.#settings = settings;
    this.#exchange = new core.PageExchange(this.#exchangeSide());
    line.onBytes = (bytes) => this.#exchange.bytesArrived(bytes);
    line.onLost = (reason) => this.#exchange.lineFailed(reason);
  }

  // Nothing interleaves: a button that starts an exchange does nothing while this is true.
  get busy() {
    return this.#starting || this.#exchange.busy();
  }

  async start() {
    this.#page.showSpeeds(this.#core.speeds(), this.#settings.speed);
    this.#wire();
    if (this.#line.chosen) this.#page.showPort(this.#line.name);
    else if (await this.#line.takeBack(this.#settings.port)) this.#page.showPort(this.#line.name);
  }

  #wire() {
    const { port, speed, file, open, versionRead, update, close } = this.#page.controls;
    port.addEventListener('click', () => this.#choosePort());
    speed.addEventListener('change', () => (this.#settings.speed = speed.value));
    versionRead.addEventListener('click', () => this.#versionRead());
    open.addEventListener('click', () => this.#open());
    file.addEventListener('change', () => this.#fileGiven(file.files[0]));
    update.addEventListener('click', () => this.#update());
    close.addEventListener('click', () => this.#close());
    const document = port.ownerDocument;
    document.addEventListener('dragover', (event) => event.preventDefault());
    document.addEventListener('drop', (event) => this.#dropped(event));
    document.defaultView.addEventListener('beforeunload', (event) => this.#leaving(event));
  }

  // ---- the buttons ----

  async #choosePort() {
    if (this.busy || !this.#line.available) return;
    try {
      if (!(await this.#line.choose())) return; // a cancelled chooser says nothing
    } catch (error) {
      this.#page.detail(`The browser gave no port: ${error.name}: ${error.message}`);
      return;
    }
    this.#settings.port = this.#line.ids;
    this.#page.showPort(this.#line.name);
  }

  #portChosen() {
    if (this.#line.chosen) return true;
    this.#page.message(this.#page.texts.SetPortNumber);
    return false;
  }

  #versionRead() {
    if (this.busy) return;
    this.#page.status('');
    if (!this.#portChosen()) return;
    this.#run(async () => () => this.#exchange.startVersionQuery(this.#line.name));
  }

  #open() {
    if (this.busy || !this.#portChosen()) return;
    this.#page.controls.file.click();
  }

  // From the file box or dropped on the page: OPEN's rules hold for both.
  #fileGiven(file) {
    this.#page.controls.file.value = '';
    if (!file || this.busy || !this.#portChosen()) return;
    this.#file = file;
    this.#page.fileName(file.name);
    this.#page.status(this.#core.fileChosen(file.name));
    this.#page.enableUpdate();
  }

  #dropped(event) {
    event.preventDefault();
    this.#fileGiven(event.dataTransfer.files[0]);
  }

  #update() {
    if (this.busy || !this.#portChosen()) return;
    this.#page.status('');
    if (!this.#file) {
      this.#page.status(this.#page.texts.NoFileLoaded);
      return;
    }
    const file = this.#file;
    this.#run(async () => {
      const { content, readError } = await this.#read(file);
      return () => this.#exchange.startUpdate(this.#line.name, file.name, file.size, content, readError);
    });
  }

  // 閉じる: a page cannot close its tab, so it stops the exchange and closes the port.
  #close() {
    if (this.#exchange.busy()) this.#exchange.cancel();
    this.#line.close();
  }

  #leaving(event) {
    if (!this.busy) return;
    event.preventDefault();
    event.returnValue = '';
  }

  // ---- starting an exchange ----

  // prepare() does what takes promises and gives the exchange's start; the
  // port is opened afresh at the chosen speed just before it.
  async #run(prepare) {
    this.#starting = true;
    try {
      const startExchange = await prepare();
      await this.#line.open(this.#page.speed);
      startExchange();
    } finally {
      this.#starting = false;
    }
  }

  // The file's bytes, read in the browser; never more than the core reads.
  async #read(file) {
    if (file.size > this.#core.maxFileSize()) return { content: new Uint8Array(), readError: '' };
    try {
      return { content: new Uint8Array(await file.arrayBuffer()), readError: '' };
    } catch (error) {
      return { content: new Uint8Array(), readError: `${error.name}: ${error.message}` };
    }
  }

  // ---- what the exchange asks of the page ----

  #exchangeSide() {
    const page = this.#page;
    const line = this.#line;
    const timer = this.#timer;
    return {
      openLine: () => line.failure(),
      closeLine: () => void line.close(),
      discardInput: () => {}, // each exchange opens the port afresh; bytes are handed on as they come
      write: (bytes) => line.write(bytes.slice()), // a view into the core's memory: copied before it moves
      armTimer: (delayMs) => timer.arm(delayMs, () => this.#exchange.timerExpired()),
      cancelTimer: () => timer.cancel(),
      statusText: (text) => page.status(text),
      failureDetail: (reason) => page.detail(reason),
      versionRead: (version) => page.version(version),
      wordWritten: (sent, toSend) => page.progress(sent, toSend),
      progressReset: () => page.resetProgress(),
      message: (text) => page.message(text),
      concluded: (result) => this.#announce('exchange-concluded', result),
      finished: (result) => this.#announce('exchange-finished', result),
    };
  }

  // For whoever watches the page (its tests and benchmark): the exchange's result.
  #announce(name, result) {
    this.#page.controls.port.ownerDocument.dispatchEvent(new CustomEvent(name, { detail: result }));
  }
}
