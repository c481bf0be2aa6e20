// The far end of the test-only Web Serial (fake-serial.js): each WebSocket a
// fake port opens is joined, byte for byte, to the pseudo-terminal of the
// kitsim its path names. When the pseudo-terminal fails (kitsim hung up),
// the socket closes, which the fake port takes for a lost device.
import { constants, openSync, writeSync } from 'node:fs';
import { once } from 'node:events';
import tty from 'node:tty';
import { WebSocketServer } from 'ws';

export async function startBridge() {
  const devices = new Map(); // target name -> pseudo-terminal
  const server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await once(server, 'listening');
  server.on('connection', (socket, request) => join(socket, devices.get(request.url.slice(1))));
  return {
    url: `ws://127.0.0.1:${server.address().port}`,
    connect: (target, device) => devices.set(target, device),
    close: () => new Promise((done) => server.close(done)),
  };
}

function join(socket, device) {
  let fd;
  try {
    fd = openSync(device, constants.O_RDWR | constants.O_NOCTTY);
  } catch {
    return socket.close(1011, 'no such device');
  }
  // kitsim keeps its side raw; reading through the terminal stream waits without a thread.
  const fromKit = new tty.ReadStream(fd);
  fromKit.on('data', (bytes) => socket.send(bytes));
  fromKit.on('error', () => socket.close(1011, 'the kit hung up'));
  fromKit.on('end', () => socket.close(1011, 'the kit hung up'));
  socket.on('message', (bytes) => writeAll(fd, bytes));
  socket.on('close', () => fromKit.destroy());
}

function writeAll(fd, bytes) {
  for (let done = 0; done < bytes.length; ) {
    try {
      done += writeSync(fd, bytes, done);
    } catch (error) {
      if (error.code !== 'EAGAIN') return;
    }
  }
}
