// web_sound_test.mjs -- the browser's sounds: every compressed sound decodes to the level of its
// wave file, and the page's own output, heard after its mixer, carries each launch on the side
// the sound log gives it, by the game's pan law.
// Usage: node web_sound_test.mjs   (QV_PLAY_DIR: the built page)
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {kPlayDir, serve, launch, open, waitLog, tap} from './lib.mjs';

const dB = (ratio) => 20 * Math.log10(ratio);

test('every sound decodes to its wave file\'s level', {timeout: 300000}, async (t) => {
  const web = await serve(kPlayDir);
  t.after(() => web.close());
  const browser = await launch();
  t.after(() => browser.close());
  const page = await open(browser, web.base + '/play/');
  await page.waitForFunction(() => window.quorvane.manifest !== null);
  const levels = await page.evaluate(async () => {
    const out = [];
    for (const [file, entry] of Object.entries(window.quorvane.manifest.sounds)) {
      const {samples} = await window.quorvane.decodeSound(file);
      let sum = 0;
      for (const v of samples) sum += (v / 32768) * (v / 32768);
      out.push([file, entry.rms, Math.sqrt(sum / samples.length), samples.length,
                entry.frames * entry.channels]);
    }
    return out;
  });
  assert.ok(levels.length > 90, `only ${levels.length} sounds`);
  for (const [file, wave, decoded, length, frames] of levels) {
    assert.equal(length, frames, `${file} decodes to another length`);
    assert.ok(Math.abs(dB(decoded / wave)) < 0.2,
              `${file} decodes ${dB(decoded / wave).toFixed(2)} dB off its wave file`);
  }
});

// A wave file of silence, served for every sound but the launch.
function silentWave(frames = 2205) {
  const b = Buffer.alloc(44 + frames * 2);
  b.write('RIFF', 0);
  b.writeUInt32LE(36 + frames * 2, 4);
  b.write('WAVEfmt ', 8);
  b.writeUInt32LE(16, 16);
  b.writeUInt16LE(1, 20);
  b.writeUInt16LE(1, 22);
  b.writeUInt32LE(22050, 24);
  b.writeUInt32LE(44100, 28);
  b.writeUInt16LE(2, 32);
  b.writeUInt16LE(16, 34);
  b.write('data', 36);
  b.writeUInt32LE(frames * 2, 40);
  return b;
}

test('the page plays each launch on its side by the pan law', {timeout: 300000}, async (t) => {
  const web = await serve(kPlayDir);
  t.after(() => web.close());
  const browser = await launch();
  t.after(() => browser.close());
  const page = await open(browser, web.base + '/play/');
  await page.setRequestInterception(true);
  page.on('request', (r) => {
    if (r.url().endsWith('.opus') && !r.url().endsWith('/launch.opus')) {
      r.respond({status: 200, contentType: 'audio/wav', body: silentWave()});
    } else {
      r.continue();
    }
  });
  await page.reload();
  await page.waitForFunction(() => window.quorvane && window.quorvane.mixer);
  await page.evaluate(() => {
    window.qvBlocks = [];
    window.quorvane.record((b) => window.qvBlocks.push(b));
  });
  await page.focus('#game');
  await tap(page, 'Space');
  await waitLog(page, 'play', 'intro.wav');
  await tap(page, 'Space');
  await waitLog(page, 'release', 'menuprompt.wav');
  await tap(page, 'Enter');
  await waitLog(page, 'play', 'difficulty.wav');
  await tap(page, 'Enter');
  // Three targets launch and land unanswered.
  await page.waitForFunction(() => window.qvLog.filter(
      (e) => e.op === 'play' && e.subject === 'land.wav').length >= 3, {timeout: 120000});
  await new Promise((r) => setTimeout(r, 300));  // the recorder's last blocks
  const pans = (await page.evaluate(() => window.qvLog)).filter(
      (e) => e.op === 'pan' && e.subject === 'launch.wav').map((e) => Number(e.value)).slice(0, 3);
  // The bursts of the output: runs of 10 ms blocks louder than -40 dBFS, with the mean square
  // of each channel over the run.
  const blocks = await page.evaluate(() => window.qvBlocks);
  const bursts = [];
  let run = null;
  for (const [, l, r] of blocks) {
    if (Math.max(l, r) > 1e-4) {
      run ||= {l: 0, r: 0, n: 0};
      run.l += l;
      run.r += r;
      ++run.n;
    } else if (run) {
      if (run.n >= 5) bursts.push(run);
      run = null;
    }
  }
  assert.ok(bursts.length >= 3, `${bursts.length} bursts heard`);
  const heard = bursts.slice(0, 3).map((b) => {
    const balance = 10 * Math.log10(b.l / Math.max(b.r, 1e-20));
    if (balance > 60) return -10000;
    if (balance < -60) return 10000;
    assert.ok(Math.abs(balance) < 0.05, `a burst ${balance.toFixed(2)} dB off centre`);
    return 0;
  });
  assert.deepEqual(heard, pans);
});
