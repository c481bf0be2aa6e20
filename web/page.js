// What the user sees: the window's controls and displays, filled with the
// core's texts, and the message box. No rules live here (updater.js has them).
const byId = (document, id) => document.getElementById(id);

export class Page {
  texts;
  controls;
  #document;
  #shown;

  constructor(document, core) {
    this.#document = document;
    this.texts = core.texts();
    const get = (id) => byId(document, id);
    this.controls = {
      port: get('port'), speed: get('speed'), file: get('file'), open: get('open'),
      versionRead: get('version-read'), update: get('update'), close: get('close'), messageOk: get('message-ok'),
    };
    this.#shown = {
      version: get('version'), fileName: get('file-name'), status: get('status'), detail: get('detail'),
      progress: get('progress'), message: get('message'), messageText: get('message-text'),
    };
    this.#fillTexts();
  }

  // Every element names the core's text it shows (data-text) or is named by (data-label).
  #fillTexts() {
    const document = this.#document;
    document.title = this.texts.WindowCaption;
    for (const element of document.querySelectorAll('[data-text]')) element.textContent = this.texts[element.dataset.text];
    for (const element of document.querySelectorAll('[data-label]')) element.ariaLabel = this.texts[element.dataset.label];
    this.controls.file.title = this.texts.OpenDialogTitle;
  }

  showSpeeds(speeds, chosen) {
    for (const { text, baudRate } of speeds) this.controls.speed.add(new Option(text, String(baudRate)));
    if (speeds.some((s) => String(s.baudRate) === chosen)) this.controls.speed.value = chosen;
  }

  get speed() {
    return Number(this.controls.speed.value);
  }

  showPort(name) {
    this.controls.port.textContent = name;
  }

  showNote(id) {
    byId(this.#document, id).hidden = false;
  }

  // The status line; a new status drops the reason shown with the one before.
  status(text) {
    this.#shown.status.textContent = text;
    this.detail('');
  }

  // The reason behind the status: the line's tooltip, and a line under the
  // window for those who have no mouse to point with.
  detail(reason) {
    this.#shown.status.title = reason;
    this.#shown.detail.textContent = reason;
    this.#shown.detail.hidden = reason === '';
  }

  version(text) {
    this.#shown.version.value = text;
  }

  fileName(name) {
    this.#shown.fileName.value = name;
  }

  enableUpdate() {
    this.controls.update.disabled = false;
  }

  // max is the words to send, value the words sent: the bar is full when the file is.
  progress(sent, toSend) {
    const bar = this.#shown.progress;
    const max = Math.max(toSend, 1);
    if (bar.max !== max) bar.max = max;
    bar.value = sent;
  }

  resetProgress() {
    this.#shown.progress.value = 0;
  }

  // A modal box with the caption, the text and OK, as the window's message boxes.
  message(text) {
    const box = this.#shown.message;
    this.#shown.messageText.textContent = text;
    if (!box.open) box.showModal();
  }
}
