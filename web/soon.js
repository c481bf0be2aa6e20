// Runs a callback as soon as the page's event loop is free. A message that
// the page posts to itself is not held back as setTimeout(0) is: to 4 ms
// when nested, to once a second in a background tab.
const channel = new MessageChannel();
const waiting = [];
channel.port1.onmessage = () => waiting.shift()();

export function soon(callback) {
  waiting.push(callback);
  channel.port2.postMessage(null);
}
