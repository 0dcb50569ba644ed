// web_game_test.mjs -- a whole game in the browser, won by the simulator's bot rules played as
// real key presses: the page's sound log follows the native simulator's run of the same game
// sound for sound; then, after a reload, the high score, its bonus round and the music level are
// still there, and the score sent reaches the real quorvane-scores that serves the page, with
// its game's replay, which the server verifies and whose recording plays from the leaderboard.
// Usage: node web_game_test.mjs QUORVANE_SIM QUORVANE_SCORES   (QV_PLAY_DIR: the built page)
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync, spawn} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {kPlayDir, launch, open, waitLog, tap} from './lib.mjs';

const [sim, scores] = process.argv.slice(2);
const kBotMs = 300;

// The simulator's bot: the arrow for a launch's side (or a falling bonus target's, as it moves)
// and Space for the empty magazine's warning, kBotMs after the sound.
function bot(page) {
  const pans = new Map();
  let on = true;
  const key = (pan) => (pan < 0 ? 'ArrowLeft' : pan > 0 ? 'ArrowRight' : 'ArrowUp');
  const later = (k) => setTimeout(() => { if (on) tap(page, k, 30).catch(() => {}); }, kBotMs);
  return {
    hear(e) {
      if (e.op === 'pan') pans.set(e.id, Number(e.value));
      if (e.op === 'play' && (e.subject === 'launch.wav' || e.subject === 'bonusFall.wav')) {
        later(key(pans.get(e.id) || 0));
      } else if (e.op === 'pan' && e.subject === 'bonusFall.wav') {
        later(key(Number(e.value)));
      } else if (e.op === 'play' && e.subject === 'warning.wav') {
        later('Space');
      }
    },
    stop() { on = false; },
  };
}

// The plays and stops of a game, from its siren to the main menu's prompt after it, without
// spoken numbers (the score depends on the player's timing).
function gameSounds(lines) {
  const out = [];
  let inGame = false;
  for (const [op, file] of lines) {
    if (op === 'play' && file === 'siren.wav') inGame = true;
    if (!inGame) continue;
    if (op === 'play' && file === 'menuprompt.wav') break;
    if ((op === 'play' || op === 'stop') && !file.startsWith('numbers/')) out.push(op + ' ' + file);
  }
  return out;
}

// A number as the game speaks it ("three hundred eighty three thousand ...") read back.
const kValues = {zero: 0, one: 1, two: 2, three: 3, four: 4, five: 5, six: 6, seven: 7,
  eight: 8, nine: 9, ten: 10, eleven: 11, twelve: 12, thirteen: 13, fourteen: 14, fifteen: 15,
  sixteen: 16, seventeen: 17, eighteen: 18, nineteen: 19, twenty: 20, thirty: 30, forty: 40,
  fifty: 50, sixty: 60, seventy: 70, eighty: 80, ninety: 90};
// The number files played in the first run of them from `from` on.
function numberWords(log, from) {
  const files = [];
  for (let i = from; i < log.length; ++i) {
    const e = log[i];
    if (e.op !== 'play') continue;
    if (e.subject.startsWith('numbers/')) files.push(e.subject);
    else if (files.length > 0) break;
  }
  return files;
}

function numberAfter(log, from, manifest) {
  let total = 0, current = 0, seen = false;
  for (const file of numberWords(log, from)) {
    seen = true;
    const word = manifest.sounds[file].words;
    if (word === 'hundred') current *= 100;
    else if (word === 'thousand') {
      total += current * 1000;
      current = 0;
    } else current += kValues[word];
  }
  assert.ok(seen, 'no number was spoken');
  return total + current;
}

test('a whole game in the browser, then its settings and its score', {timeout: 900000}, async (t) => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'qv_web_game.'));
  const server = spawn(scores, ['--listen', '127.0.0.1:0', '--db', path.join(tmp, 'scores.db'),
                                '--play', kPlayDir]);
  t.after(() => {
    server.kill();
    fs.rmSync(tmp, {recursive: true, force: true});
  });
  const port = await new Promise((resolve, reject) => {
    let out = '';
    server.stdout.on('data', (d) => {
      out += d;
      const m = /listening on 127\.0\.0\.1:(\d+)/.exec(out);
      if (m) resolve(Number(m[1]));
    });
    server.on('exit', () => reject(new Error('quorvane-scores ended')));
  });
  const web = {base: `http://127.0.0.1:${port}`};
  const browser = await launch();
  t.after(() => browser.close());
  const manifest = JSON.parse(fs.readFileSync(path.join(kPlayDir, 'sounds.json'), 'utf8'));

  const page = await open(browser, web.base + '/play/');
  const player = bot(page);
  await page.exposeFunction('qvBotHears', (e) => player.hear(e));
  await page.evaluate(() => window.quorvane.listeners.push((e) => window.qvBotHears(e)));
  await tap(page, 'Space');
  await waitLog(page, 'play', 'menuprompt.wav');
  await tap(page, 'Enter');
  await waitLog(page, 'play', 'difficulty.wav');
  await tap(page, 'Enter');
  const siren = await waitLog(page, 'play', 'siren.wav');
  const won = await waitLog(page, 'play', 'win.wav', siren, 480);
  const prompt = await waitLog(page, 'play', 'menuprompt.wav', won, 120);
  player.stop();
  // The menu takes its keys once its prompt is over.
  await waitLog(page, 'release', 'menuprompt.wav', prompt);
  const log = await page.evaluate(() => window.qvLog);
  const finalScore = numberAfter(log, won, manifest);

  // The native simulator plays the same game with the same bot, in virtual time.
  const script = path.join(tmp, 'game.script');
  fs.writeFileSync(script, 'wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\n' +
                   'tap Return\nwait play siren.wav\nwait play menuprompt.wav\ntap Escape\n');
  const native = execFileSync(sim, ['--bot', String(kBotMs), '--script', script], {
    encoding: 'utf8', maxBuffer: 1 << 26}).trim().split('\n').map((l) => l.split('\t'));
  const expected = gameSounds(native.map((f) => [f[1], f[3]]));
  const heard = gameSounds(log.map((e) => [e.op, e.subject]));
  assert.ok(expected.includes('play win.wav'));
  assert.deepEqual(heard, expected);
  const stores = log.filter((e) => e.op === 'store').map((e) => e.subject.toLowerCase());
  assert.ok(stores.includes('quorvane/settings/ba'), 'the bonus round was not opened');

  // The music a step softer, then a reload: what the game stored is read back.
  await tap(page, 'PageDown');
  await waitLog(page, 'store', 'QuorVane/Settings/MusicVolume', log.length);
  await page.reload();
  await page.waitForFunction(() => window.quorvane && window.quorvane.area);
  await page.evaluate(() => window.quorvane.listeners.push((e) => window.qvBotHears(e)));
  await page.focus('#game');
  await tap(page, 'Space');
  const menu = await waitLog(page, 'release', 'menuprompt.wav');
  const menuMusic = (await page.evaluate(() => window.qvLog)).filter(
      (e) => e.op === 'volume' && e.subject === 'menumusic.wav').map((e) => Number(e.value));
  assert.ok(menuMusic.length > 0 && menuMusic.every((v) => v <= -300),
            `the menu music's volumes ${menuMusic} ignore the stored level`);
  await tap(page, 'KeyH');
  const said = await waitLog(page, 'play', 'highscoreis.wav', menu);
  // As many number words as the final score was spoken in.
  const words = numberWords(log, won).length;
  await page.waitForFunction((from, words) => window.qvLog.slice(from).filter(
      (e) => e.op === 'play' && e.subject.startsWith('numbers/')).length >= words,
  {timeout: 60000, polling: 50}, said, words);
  assert.equal(numberAfter(await page.evaluate(() => window.qvLog), said, manifest), finalScore);
  await tap(page, 'KeyB');
  await waitLog(page, 'play', 'bonuswelcome.wav', said);
  await tap(page, 'Escape');
  const back = await waitLog(page, 'release', 'menuprompt.wav', said + 1);

  // Send the high score: the page's own server takes it.
  await tap(page, 'ArrowDown');
  await waitLog(page, 'play', 'calSpeakers.wav', back);
  await tap(page, 'ArrowDown');
  await waitLog(page, 'play', 'sendscore.wav', back);
  await tap(page, 'Enter');
  const sent = await waitLog(page, 'play', 'SendGood.wav', back, 60);
  const http = (await page.evaluate(() => window.qvLog)).slice(back, sent)
      .filter((e) => e.op === 'http').map((e) => e.subject.replace(/^.*\/scores\//, '') + ' ' + e.value);
  // The score, then the replay of the game that made it, kept over the reload.
  assert.deepEqual(http.slice(0, 3), [http[0], http[0].replace('start', 'end 200'),
                                      'replays start']);
  assert.match(http[0], /^quorvane\.php\?.* start$/);
  // The server runs the browser's game again and verifies the score it made.
  let record;
  for (;;) {
    record = await (await fetch(`http://127.0.0.1:${port}/scores/replays/1`)).json();
    if (record.state === 'verified' || record.state === 'refused') break;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.equal(record.state, 'verified', record.reason);
  const size = await page.evaluate(
      () => window.Module.FS.stat('/home/web_user/.local/share/quorvane/replays/best.qvr').size);
  console.log(`the browser's replay of the game: ${size} bytes, its events stored uncompressed`);
  assert.equal(record.score, finalScore);
  let board;
  do {  // the page is made afresh within a second
    board = await (await fetch(`http://127.0.0.1:${port}/scores/`)).text();
  } while (!board.includes('/scores/replays/1/audio'));
  assert.match(board, new RegExp(`<td>${finalScore}</td>`), 'the score is not verified');

  // The leaderboard in the browser: its verified game plays, as long as the game was.
  const listen = await browser.newPage();
  await listen.goto(`http://127.0.0.1:${port}/scores/`);
  const heardFor = await listen.evaluate(async () => {
    const audio = document.querySelector('audio[src="/scores/replays/1/audio"]');
    await audio.play();
    await new Promise((resolve) => audio.addEventListener('timeupdate', () => {
      if (audio.currentTime >= 1) resolve();
    }));
    return {duration: audio.duration, label: audio.getAttribute('aria-label'),
            row: audio.closest('tr').textContent};
  });
  const gameSeconds = (log[won].ms - log[siren].ms) / 1000;
  assert.ok(heardFor.duration >= gameSeconds && heardFor.duration < gameSeconds + 120,
            `the game is ${gameSeconds} s long; its recording ${heardFor.duration} s`);
  assert.match(heardFor.label, /^Listen to the game of /);
  assert.match(heardFor.row, new RegExp(String(finalScore)));
});
