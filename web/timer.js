// The one timer an exchange asks for. Only deadlines and the pause after the
// prepare command wait on the clock; a delay of 0 (a break in a long run of
// words the kit does not receive) goes on at once.
import { soon } from './soon.js';

export class ExchangeTimer {
  #timeout = null;
  #armed = 0; // counts arm() calls, so that a cancelled immediate run does nothing

  arm(delayMs, expired) {
    this.cancel();
    const armed = this.#armed;
    if (delayMs <= 0) {
      soon(() => armed === this.#armed && expired());
      return;
    }
    this.#timeout = setTimeout(expired, Math.ceil(delayMs));
  }

  cancel() {
    this.#armed++;
    clearTimeout(this.#timeout);
    this.#timeout = null;
  }
}
