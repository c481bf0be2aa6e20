// Serves a folder of static files on 127.0.0.1, as any web server would
// serve the built site: `node scripts/serve-site.mjs FOLDER [PORT]` prints
// the address. The page's tests use it too (serveSite).
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, resolve, sep } from 'node:path';
import { pathToFileURL } from 'node:url';

const Types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.hex': 'application/octet-stream',
};

async function answer(root, request, response) {
  const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  const file = resolve(root, '.' + (path.endsWith('/') ? path + 'index.html' : path));
  if (!file.startsWith(root + sep)) return response.writeHead(403).end();
  try {
    const body = await readFile(file);
    response.writeHead(200, { 'Content-Type': Types[extname(file)] ?? 'application/octet-stream' });
    response.end(body);
  } catch {
    response.writeHead(404).end();
  }
}

// Resolves once it listens; port 0 takes any free one.
export function serveSite(folder, port = 0) {
  const root = resolve(folder);
  const server = createServer((request, response) => answer(root, request, response));
  return new Promise((done, failed) => {
    server.once('error', failed);
    server.listen(port, '127.0.0.1', () => done({ server, url: `http://localhost:${server.address().port}/` }));
  });
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [folder, port = '8080'] = process.argv.slice(2);
  const { url } = await serveSite(folder, Number(port));
  console.log(`Serving ${folder} on ${url} (Ctrl+C stops it)`);
  console.log(`Without a kit: ${url}?kit=simulated`);
}
