// kitsim ($KITSIM) on a pseudo-terminal for one test, with its log: the
// commands and frames it received, as "F", "?" and "A 0008 1234".
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdtempSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

export async function startKitsim(options = []) {
  const logPath = join(mkdtempSync(join(tmpdir(), 'kitsim-')), 'kit.log');
  const kit = spawn(process.env.KITSIM, ['--log', logPath, ...options], { stdio: ['ignore', 'pipe', 'inherit'] });
  const [device] = await once(createInterface({ input: kit.stdout }), 'line');
  return {
    device,
    received: () =>
      readFileSync(logPath, 'utf8').split('\n').filter(Boolean).map((line) => line.replace(/^\d+ /, '')),
    stop: async () => {
      kit.kill('SIGTERM');
      if (kit.exitCode === null) await once(kit, 'exit');
    },
  };
}
