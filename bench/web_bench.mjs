// web_bench.mjs -- the browser version's figures, in Debian's headless Chromium: bytes fetched
// before the first sound, before the menu's first sound and in all; page load to ready, and the
// first key to the tick leaving the audio context; a fire key to its gun sound leaving the
// context; the CPU of Chromium's processes at the menu and in a game; the output's stalls in a
// minute of play. Printed with the machine's load beside each.
// Usage: node bench/web_bench.mjs PLAY_DIR [KEYS]
import fs from 'node:fs';
import {serve, launch, open, waitLog, tap} from '../tests/web/lib.mjs';

const [playDir, keyCount = '40'] = process.argv.slice(2);
const load = () => fs.readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];
const pct = (v, p) => [...v].sort((a, b) => a - b)[Math.min(v.length - 1, Math.floor(v.length * p))];

// CPU seconds (user + system) of a process and all its descendants, by name.
function cpuOf(root) {
  const ticks = 100;  // the kernel's clock ticks a second (USER_HZ) on Linux
  const byParent = new Map();
  const info = new Map();
  for (const pid of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      const type = (/--type=([a-z-]+)/.exec(cmd) || [, 'browser'])[1] +
                   (/--utility-sub-type=([a-z._]+)/.exec(cmd) || [, ''])[1].replace(/^/, ' ');
      info.set(Number(pid), {type: type.trim(), cpu: (Number(fields[11]) + Number(fields[12])) / ticks});
      const ppid = Number(fields[1]);
      if (!byParent.has(ppid)) byParent.set(ppid, []);
      byParent.get(ppid).push(Number(pid));
    } catch (e) {
      // Gone meanwhile.
    }
  }
  const out = new Map();
  const walk = (pid) => {
    const i = info.get(pid);
    if (i) out.set(i.type, (out.get(i.type) || 0) + i.cpu);
    for (const child of byParent.get(pid) || []) walk(child);
  };
  walk(root);
  return out;
}

async function cpuOver(browser, seconds) {
  const pid = browser.process().pid;
  const before = cpuOf(pid);
  await sleep(seconds * 1000);
  const after = cpuOf(pid);
  const parts = [];
  let total = 0;
  for (const [type, cpu] of after) {
    const used = cpu - (before.get(type) || 0);
    total += used;
    if (used > 0.005 * seconds) parts.push(`${type} ${(100 * used / seconds).toFixed(1)}%`);
  }
  return `${(100 * total / seconds).toFixed(1)}% of a core (${parts.join(', ')})`;
}

// Counts, in the page, the times its output clock falls behind the wall clock by more than a
// few milliseconds: each is sound the device played without the page's (an underrun), and sets
// the clock back for good. Watches the game's context, or a bare oscillator's of its own.
function watchStalls(bare) {
  let c = window.quorvane && window.quorvane.context;
  if (bare) {
    c = new AudioContext({latencyHint: 0});
    const o = c.createOscillator();
    o.connect(c.destination);
    o.start();
  }
  window.qvStalls = {count: 0, worst: 0};
  let base = null, plateau = null;
  setInterval(() => {
    const ts = c.getOutputTimestamp();
    if (ts.contextTime === 0) return;
    const lag = ts.performanceTime - ts.contextTime * 1000;
    if (base === null) base = plateau = lag;
    if (lag < plateau) plateau = lag;
    if (lag - plateau > 3) {
      ++window.qvStalls.count;
      window.qvStalls.worst = Math.max(window.qvStalls.worst, lag - base);
      plateau = lag;
    }
  }, 50);
}

const web = await serve(fs.realpathSync(playDir));
const browser = await launch({autoplay: false});
try {
  console.log(`machine: load average ${load()}`);
  const page = await open(browser, web.base + '/play/');
  const ready = await page.evaluate(async () => {
    await new Promise((r) => {
      const look = () => (window.quorvane.mixer && window.Module && window.Module.callMain ? r()
                          : setTimeout(look, 5));
      look();
    });
    return performance.now();
  });
  console.log(`page load to ready for the first key: ${ready.toFixed(0)} ms (load ${load()})`);
  await page.evaluate(() => {
    window.quorvane.mixer.port.postMessage({op: 'watch', file: 'empty.wav'});
    window.quorvane.mixer.port.postMessage({op: 'watch', file: 'gun.wav'});
  });
  const bytes = () => page.evaluate(() => window.qvBytes());
  // The bytes fetched as each of the two first sounds starts, counted as it starts.
  await page.evaluate(() => {
    window.qvBytes = () => performance.getEntriesByType('resource')
        .reduce((n, r) => n + r.transferSize, 0) +
        performance.getEntriesByType('navigation')[0].transferSize;
    window.qvFirst = {};
    window.quorvane.listeners.push((e) => {
      if (e.op !== 'play') return;
      window.qvFirst.tick ??= window.qvBytes();
      if (e.subject === 'menumusic.wav') window.qvFirst.menu ??= window.qvBytes();
    });
  });
  await tap(page, 'Space');
  await waitLog(page, 'play', 'empty.wav');
  const tick = await page.evaluate(async () => {
    const q = window.quorvane;
    while (!q.soundings.some((s) => s.file === 'empty.wav')) await new Promise((r) => setTimeout(r, 5));
    const s = q.soundings.find((s) => s.file === 'empty.wav');
    await new Promise((r) => setTimeout(r, 100));
    return {start: q.startTime, leaves: q.frameTime(s.frame)};
  });
  console.log(`first key to the tick leaving the audio context: ${(tick.leaves - tick.start).toFixed(0)} ms; ` +
              `page load to it: ${tick.leaves.toFixed(0)} ms (load ${load()})`);
  await waitLog(page, 'play', 'intro.wav');
  await sleep(300);
  await tap(page, 'Space');
  await waitLog(page, 'play', 'menumusic.wav');
  const first = await page.evaluate(() => window.qvFirst);
  await waitLog(page, 'release', 'menuprompt.wav');
  // Every sound fetched: all of the set is on its way once the menu speaks.
  await page.waitForFunction(() => performance.getEntriesByType('resource').filter(
      (r) => r.name.endsWith('.opus')).length >= Object.keys(window.quorvane.manifest.sounds).length,
  {timeout: 120000});
  await sleep(1000);
  console.log(`bytes fetched: ${first.tick} before the first sound, ${first.menu} before the ` +
              `menu's first, ${await bytes()} in all`);
  console.log(`CPU at the menu, 10 s: ${await cpuOver(browser, 10)} (load ${load()})`);

  // A game on Easy, every target left to land: fire keys now and then, each to its gun sound.
  await tap(page, 'Enter');
  await waitLog(page, 'play', 'difficulty.wav');
  await tap(page, 'Enter');
  const siren = await waitLog(page, 'play', 'siren.wav');
  await waitLog(page, 'play', 'launch.wav', siren, 30);
  await page.evaluate(watchStalls, false);
  // A bare oscillator in a page of its own, watched the same way: the stalls of the machine
  // and the browser alone, beside the game's.
  const reference = await browser.newPage();
  await reference.goto(web.base + '/play/sounds.json');
  await reference.mouse.click(5, 5);  // the gesture its sound may start after
  await reference.evaluate(watchStalls, true);
  const cpuGame = cpuOver(browser, 10);
  const latencies = [];
  const started = Date.now();
  for (let i = 0; i < Number(keyCount); ++i) {
    const from = await page.evaluate(() => window.quorvane.soundings.length);
    await tap(page, ['ArrowLeft', 'ArrowUp', 'ArrowRight'][i % 3], 40);
    const got = await page.evaluate(async (from) => {
      const q = window.quorvane;
      for (let t = 0; t < 100 && q.soundings.length <= from; ++t) await new Promise((r) => setTimeout(r, 10));
      const s = q.soundings.slice(from).find((s) => s.file === 'gun.wav');
      if (!s) return null;
      await new Promise((r) => setTimeout(r, 60));
      return q.frameTime(s.frame) - s.key;
    }, from);
    if (got !== null) latencies.push(got);
    await sleep(250 + (i % 5) * 37);
  }
  console.log(`CPU in a game, 10 s: ${await cpuGame} (load ${load()})`);
  console.log(`fire key to gun sound leaving the audio context, ${latencies.length} keys: median ` +
              `${median(latencies).toFixed(1)} ms, 90th percentile ${pct(latencies, 0.9).toFixed(1)} ms, ` +
              `worst ${Math.max(...latencies).toFixed(1)} ms (load ${load()})`);
  const rest = 60000 - (Date.now() - started);
  if (rest > 0) await sleep(rest);
  const stalls = await page.evaluate(() => window.qvStalls);
  const referenceStalls = await reference.evaluate(() => window.qvStalls);
  const output = await page.evaluate(() => [window.quorvane.context.baseLatency,
                                            window.quorvane.context.outputLatency]);
  console.log(`output stalls (underruns) in a minute of play: ${stalls.count}, the clock at most ` +
              `${stalls.worst.toFixed(1)} ms behind; base latency ${(output[0] * 1000).toFixed(1)} ms, ` +
              `output latency ${(output[1] * 1000).toFixed(1)} ms; a bare oscillator's beside it: ` +
              `${referenceStalls.count} (load ${load()})`);
} finally {
  await browser.close();
  web.close();
}
